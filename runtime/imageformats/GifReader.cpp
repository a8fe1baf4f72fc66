#include "runtime/imageformats/GifReader.h"

#include "runtime/BackgroundTask.h"
#include "runtime/Picture.h"
#include "runtime/imageformats/ImageFile.h"

#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <new>
#include <vector>

namespace {

constexpr int GraphicControl = 0xF9;

// An LZW code takes at least 3 bits and gives at most 4096 pixels: a canvas
// of more pixels than that allows for the rest of the file is damaged.
constexpr std::uint64_t MostPixelsPerCode = 4096;
constexpr std::uint64_t FewestBitsPerCode = 3;

int readFromFile(GifFileType* gif, GifByteType* into, int count)
{
    auto* file = static_cast<ImageFile*>(gif->UserData);
    return static_cast<int>(file->read(into, static_cast<std::size_t>(std::max(count, 0))));
}

[[noreturn]] void throwNoMemory()
{
    throw std::bad_alloc();
}

// giflib reports a lack of memory as one of its errors.
bool failed(GifFileType* gif, int result)
{
    if (result == GIF_OK)
        return false;
    if (gif->Error == D_GIF_ERR_NOT_ENOUGH_MEM)
        throwNoMemory();
    return true;
}

}

bool GifReader::recognises(ImageFile const& file)
{
    auto const head = file.head();
    return head.size() >= 6 && std::equal(head.begin(), head.begin() + 3, "GIF") && (std::equal(head.begin() + 3, head.begin() + 6, "87a") || std::equal(head.begin() + 3, head.begin() + 6, "89a"));
}

GifReader::GifReader(ImageFile& file)
    : m_file(file)
{
}

GifReader::~GifReader()
{
    if (m_gif)
        DGifCloseFile(m_gif, nullptr);
}

// Reads as far as the first frame's descriptor: the extensions before it
// may say which colour is clear.
bool GifReader::readHeader(ImageHeader& header)
{
    int error = 0;
    m_file.seek(0);
    m_gif = DGifOpen(&m_file, readFromFile, &error);
    if (!m_gif) {
        if (error == D_GIF_ERR_NOT_ENOUGH_MEM)
            throwNoMemory();
        return false;
    }
    for (;;) {
        GifRecordType record = UNDEFINED_RECORD_TYPE;
        if (failed(m_gif, DGifGetRecordType(m_gif, &record)))
            return false;
        if (record == IMAGE_DESC_RECORD_TYPE)
            break;
        if (record != EXTENSION_RECORD_TYPE)
            return false; // the end, without a frame
        int code = 0;
        GifByteType* block = nullptr;
        if (failed(m_gif, DGifGetExtension(m_gif, &code, &block)))
            return false;
        if (code == GraphicControl && block && block[0] >= 4 && m_transparent < 0)
            m_transparent = (block[1] & 1) ? block[4] : -1;
        while (block) {
            if (failed(m_gif, DGifGetExtensionNext(m_gif, &block)))
                return false;
        }
    }
    if (failed(m_gif, DGifGetImageDesc(m_gif)))
        return false;
    GifImageDesc const& frame = m_gif->Image;
    if (frame.Width <= 0 || frame.Height <= 0 || (!frame.ColorMap && !m_gif->SColorMap))
        return false;
    std::int64_t const width = std::max<std::int64_t>(m_gif->SWidth, frame.Left + frame.Width);
    std::int64_t const height = std::max<std::int64_t>(m_gif->SHeight, frame.Top + frame.Height);
    std::uint64_t const pixels = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    if (pixels > m_file.remaining() * 8 / FewestBitsPerCode * MostPixelsPerCode)
        return false;
    header.width = width;
    header.height = height;
    return true;
}

bool GifReader::decode(Picture& picture)
{
    GifImageDesc const frame = m_gif->Image;
    ColorMapObject const* const map = frame.ColorMap ? frame.ColorMap : m_gif->SColorMap;
    std::array<std::uint32_t, 256> colours {}; // indices beyond the palette are clear
    for (int i = 0; i < std::min(map->ColorCount, 256); ++i) {
        GifColorType const& colour = map->Colors[i];
        std::uint32_t const alpha = i == m_transparent ? 0 : 0xFF;
        colours[static_cast<std::size_t>(i)] = alpha << 24 | std::uint32_t { colour.Red } << 16 | std::uint32_t { colour.Green } << 8 | colour.Blue;
    }

    // Interlaced frames come in four passes: every 8th row from 0, every 8th
    // from 4, every 4th from 2, every 2nd from 1.
    static constexpr std::array<std::pair<int, int>, 4> passes { { { 0, 8 }, { 4, 8 }, { 2, 4 }, { 1, 2 } } };
    std::vector<GifPixelType> line(static_cast<std::size_t>(frame.Width));
    auto readRow = [&](int y) {
        if (failed(m_gif, DGifGetLine(m_gif, line.data(), frame.Width)))
            return false;
        std::uint32_t* const row = picture.row(frame.Top + y) + frame.Left;
        for (int x = 0; x < frame.Width; ++x)
            row[x] = colours[line[static_cast<std::size_t>(x)]];
        background_task::yieldIfDue();
        return true;
    };
    if (frame.Interlace) {
        for (auto [first, step] : passes)
            for (int y = first; y < frame.Height; y += step)
                if (!readRow(y))
                    return false;
    } else {
        for (int y = 0; y < frame.Height; ++y)
            if (!readRow(y))
                return false;
    }
    return true;
}
