#pragma once

// PNG files written with libpng from known samples, of every colour type,
// depth and layout.

#include "support/PictureFiles.h"

#include <png.h>

#include <cstring>
#include <optional>
#include <random>

namespace picture_files::png {

// An image as a PNG file stores it: samples of `depth` bits, channels as
// the colour type has them, and the palette and transparency chunks.
struct PngImage {
    int width = 0;
    int height = 0;
    int colourType = PNG_COLOR_TYPE_RGB;
    int depth = 8;
    bool interlaced = false;
    std::vector<std::uint32_t> samples; // width x height x channels
    std::vector<png_color> palette;
    std::vector<png_byte> paletteAlpha;
    std::optional<png_color_16> transparentColour;
    int compression = -1; // zlib's level, -1 for its default
    std::size_t idatBytes = 0; // the most image data in one IDAT chunk; 0 for libpng's default
    int filters = 0; // the row filters libpng may choose from (PNG_FILTER_...); 0 for its default

    int channels() const
    {
        switch (colourType) {
        case PNG_COLOR_TYPE_GRAY:
        case PNG_COLOR_TYPE_PALETTE: return 1;
        case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
        case PNG_COLOR_TYPE_RGB: return 3;
        default: return 4;
        }
    }
    std::uint32_t sample(int x, int y, int channel) const { return samples[(static_cast<std::size_t>(y) * width + x) * channels() + channel]; }

    // The straight ARGB words that the image shows.
    Pixels expected() const
    {
        std::uint32_t const maximum = (1u << depth) - 1;
        auto eight = [&](std::uint32_t value) { return (value * 255 + maximum / 2) / maximum; };
        Pixels pixels;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                std::uint32_t r = 0, g = 0, b = 0, a = 255;
                switch (colourType) {
                case PNG_COLOR_TYPE_PALETTE: {
                    std::uint32_t const index = sample(x, y, 0);
                    r = palette[index].red, g = palette[index].green, b = palette[index].blue;
                    a = index < paletteAlpha.size() ? paletteAlpha[index] : 255;
                    break;
                }
                case PNG_COLOR_TYPE_GRAY:
                case PNG_COLOR_TYPE_GRAY_ALPHA:
                    r = g = b = eight(sample(x, y, 0));
                    if (colourType == PNG_COLOR_TYPE_GRAY_ALPHA)
                        a = eight(sample(x, y, 1));
                    else if (transparentColour && sample(x, y, 0) == transparentColour->gray)
                        a = 0;
                    break;
                default:
                    r = eight(sample(x, y, 0)), g = eight(sample(x, y, 1)), b = eight(sample(x, y, 2));
                    if (colourType == PNG_COLOR_TYPE_RGB_ALPHA)
                        a = eight(sample(x, y, 3));
                    else if (transparentColour && sample(x, y, 0) == transparentColour->red && sample(x, y, 1) == transparentColour->green && sample(x, y, 2) == transparentColour->blue)
                        a = 0;
                }
                pixels.push_back(a << 24 | r << 16 | g << 8 | b);
            }
        }
        return pixels;
    }
};

inline void appendBytes(png_structp png, png_bytep data, png_size_t size)
{
    auto* out = static_cast<std::vector<unsigned char>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + size);
}

inline QByteArray encode(PngImage const& image)
{
    std::vector<unsigned char> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, appendBytes, nullptr);
    if (image.compression >= 0)
        png_set_compression_level(png, image.compression);
    if (image.idatBytes > 0)
        png_set_compression_buffer_size(png, image.idatBytes);
    if (image.filters != 0)
        png_set_filter(png, PNG_FILTER_TYPE_BASE, image.filters);
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height), image.depth, image.colourType,
        image.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!image.palette.empty())
        png_set_PLTE(png, info, image.palette.data(), static_cast<int>(image.palette.size()));
    if (!image.paletteAlpha.empty())
        png_set_tRNS(png, info, image.paletteAlpha.data(), static_cast<int>(image.paletteAlpha.size()), nullptr);
    if (image.transparentColour)
        png_set_tRNS(png, info, nullptr, 0, &*image.transparentColour);
    png_write_info(png, info);
    if (image.depth < 8)
        png_set_packing(png);
    if (image.depth == 16)
        png_set_swap(png); // the rows below hold 16-bit samples in the machine's order
    int const passes = png_set_interlace_handling(png);
    int const channels = image.channels();
    std::size_t const sampleBytes = image.depth == 16 ? 2 : 1;
    std::vector<unsigned char> row(static_cast<std::size_t>(image.width * channels) * sampleBytes);
    for (int pass = 0; pass < passes; ++pass) {
        for (int y = 0; y < image.height; ++y) {
            for (int i = 0; i < image.width * channels; ++i) {
                std::uint32_t const value = image.samples[static_cast<std::size_t>(y * image.width * channels + i)];
                if (sampleBytes == 2) {
                    auto const v = static_cast<std::uint16_t>(value);
                    std::memcpy(&row[static_cast<std::size_t>(i) * 2], &v, 2);
                } else {
                    row[static_cast<std::size_t>(i)] = static_cast<unsigned char>(value);
                }
            }
            png_write_row(png, row.data());
        }
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return bytesOf(out);
}

// Samples that use the whole range of the depth, the extremes included.
inline std::vector<std::uint32_t> samplesFor(int count, int depth, unsigned seed)
{
    std::mt19937 random(seed);
    std::uint32_t const maximum = (1u << depth) - 1;
    std::vector<std::uint32_t> samples(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        samples[static_cast<std::size_t>(i)] = i < 2 ? (i == 0 ? 0 : maximum) : static_cast<std::uint32_t>(random()) & maximum;
    return samples;
}

}
