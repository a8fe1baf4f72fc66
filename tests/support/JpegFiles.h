#pragma once

// JPEG files written with libjpeg from known pixels: blocks of one colour
// that survive the format's loss.

#include "support/PictureFiles.h"

#include <cstdio>
#include <jpeglib.h>

#include <algorithm>

namespace picture_files::jpeg {

// Blocks of 16 x 16 pixels of one colour each survive even halved chroma
// and quantisation almost unchanged.
constexpr int Block = 16;
constexpr std::uint32_t BlockColours[] {
    0xFFE02010, 0xFF20C040, 0xFF3050E0, 0xFFF0F0F0, 0xFF101010, 0xFF808080, 0xFFC86432, 0xFF00C8C8,
    0xFFFF8000, 0xFF602080, 0xFF285078, 0xFFA0A000, 0xFF40F0A0, 0xFF800000, 0xFF0080FF,
};

inline Pixels blocks(int width, int height)
{
    Pixels pixels;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            pixels.push_back(BlockColours[static_cast<std::size_t>((y / Block) * (width / Block) + x / Block) % std::size(BlockColours)]);
    return pixels;
}

inline std::uint32_t channel(std::uint32_t pixel, int shift) { return (pixel >> shift) & 0xFF; }

// The grey that a JPEG encoder makes of a colour: its luma.
inline std::uint32_t greyOf(std::uint32_t pixel)
{
    double const y = 0.299 * channel(pixel, 16) + 0.587 * channel(pixel, 8) + 0.114 * channel(pixel, 0);
    auto const v = static_cast<std::uint32_t>(y + 0.5);
    return 0xFF000000u | v << 16 | v << 8 | v;
}

enum class Kind { Baseline, Progressive, Grey, CmykAdobe, CmykWithoutMarker };

struct Jpeg {
    Kind kind = Kind::Baseline;
    int width = 48;
    int height = 32;
    int orientation = 0; // 0: no EXIF block
    bool halvedChroma = false;
    bool orientationAsLong = false; // the EXIF value a LONG rather than a SHORT
    int quality = 100;
    int restartInterval = 0; // in MCUs; 0 for none
    // The sampling factors of the first component, the others' being 1;
    // 0 for those that halvedChroma gives.
    int lumaH = 0;
    int lumaV = 0;
    bool progressive = false; // of any kind; Kind::Progressive is colour
};

inline QByteArray exifWithOrientation(int orientation, bool asLong = false)
{
    // A big-endian TIFF structure with one directory of one entry: type 3
    // (SHORT) or 4 (LONG), one value, held in the entry.
    auto const value = static_cast<unsigned char>(orientation);
    unsigned char const block[] { 'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1,
        0x01, 0x12, 0, static_cast<unsigned char>(asLong ? 4 : 3), 0, 0, 0, 1,
        0, static_cast<unsigned char>(asLong ? 0 : value), 0, static_cast<unsigned char>(asLong ? value : 0), 0, 0, 0, 0 };
    return QByteArray(reinterpret_cast<char const*>(block), sizeof block);
}

inline QByteArray encode(Jpeg const& jpeg, Pixels const& pixels)
{
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_compress_struct info {};
    jpeg_error_mgr errors {};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(jpeg.width);
    info.image_height = static_cast<JDIMENSION>(jpeg.height);
    bool const cmyk = jpeg.kind == Kind::CmykAdobe || jpeg.kind == Kind::CmykWithoutMarker;
    info.input_components = jpeg.kind == Kind::Grey ? 1 : cmyk ? 4 : 3;
    info.in_color_space = jpeg.kind == Kind::Grey ? JCS_GRAYSCALE : cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, jpeg.quality, TRUE);
    for (int i = 0; i < info.num_components; ++i)
        info.comp_info[i].h_samp_factor = info.comp_info[i].v_samp_factor = 1;
    info.comp_info[0].h_samp_factor = jpeg.lumaH ? jpeg.lumaH : jpeg.halvedChroma ? 2 : 1;
    info.comp_info[0].v_samp_factor = jpeg.lumaV ? jpeg.lumaV : jpeg.halvedChroma ? 2 : 1;
    info.restart_interval = static_cast<unsigned>(jpeg.restartInterval);
    if (jpeg.kind == Kind::Progressive || jpeg.progressive)
        jpeg_simple_progression(&info);
    if (jpeg.kind == Kind::CmykWithoutMarker)
        info.write_Adobe_marker = FALSE;
    jpeg_start_compress(&info, TRUE);
    if (jpeg.orientation) {
        QByteArray const exif = exifWithOrientation(jpeg.orientation, jpeg.orientationAsLong);
        jpeg_write_marker(&info, JPEG_APP0 + 1, reinterpret_cast<JOCTET const*>(exif.constData()), static_cast<unsigned>(exif.size()));
    }
    std::vector<unsigned char> row(static_cast<std::size_t>(jpeg.width * info.input_components));
    for (int y = 0; y < jpeg.height; ++y) {
        for (int x = 0; x < jpeg.width; ++x) {
            std::uint32_t const pixel = pixels[static_cast<std::size_t>(y * jpeg.width + x)];
            unsigned char* out = &row[static_cast<std::size_t>(x * info.input_components)];
            std::uint32_t const r = channel(pixel, 16), g = channel(pixel, 8), b = channel(pixel, 0);
            if (jpeg.kind == Kind::Grey) {
                out[0] = static_cast<unsigned char>(channel(greyOf(pixel), 0));
            } else if (cmyk) {
                // No black ink: the colour is all in C, M and Y, each ink
                // held inverted as Adobe's files hold them, and as the
                // files of the other tools are read.
                unsigned char const inverted[4] { static_cast<unsigned char>(r), static_cast<unsigned char>(g), static_cast<unsigned char>(b), 255 };
                std::copy(inverted, inverted + 4, out);
            } else {
                out[0] = static_cast<unsigned char>(r), out[1] = static_cast<unsigned char>(g), out[2] = static_cast<unsigned char>(b);
            }
        }
        JSAMPROW rows[] { row.data() };
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    QByteArray bytes(reinterpret_cast<char const*>(buffer), static_cast<qsizetype>(size));
    std::free(buffer);
    return bytes;
}

}
