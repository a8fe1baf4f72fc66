#pragma once

// Shared pieces of the tests of reading picture files: writing a file,
// comparing what it opens as, and opening damaged files within a bound.

#include "runtime/Exceptions.h"
#include "runtime/FolderItem.h"
#include "runtime/Picture.h"
#include "support/AddressSpaceLimit.h"
#include "support/Raises.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace picture_files {

using Pixels = std::vector<std::uint32_t>;

inline String fixturePath(char const* name)
{
    return String(VANTREL_FIXTURES) + "/" + name;
}

inline QByteArray fixtureBytes(char const* name)
{
    QFile file(QString::fromStdString(fixturePath(name)));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll();
}

inline Ref<FolderItem> writeFile(QTemporaryDir const& folder, String const& name, QByteArray const& bytes)
{
    QString const path = folder.filePath(QString::fromStdString(name));
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return FolderItem::forPath(path.toStdString());
}

inline QByteArray bytesOf(std::vector<unsigned char> const& bytes)
{
    return QByteArray(reinterpret_cast<char const*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

inline Pixels pixelsOf(Picture const& picture)
{
    Pixels pixels;
    for (std::int32_t y = 0; y < picture.Height(); ++y)
        pixels.insert(pixels.end(), picture.row(y), picture.row(y) + picture.Width());
    return pixels;
}

inline String hex(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

// The picture has the size and the straight ARGB words given, each channel
// within the tolerance.
inline ::testing::AssertionResult holds(Ref<Picture> const& picture, std::int32_t width, std::int32_t height, Pixels const& expected, int tolerance = 0)
{
    if (!picture)
        return ::testing::AssertionFailure() << "the file gave Nil";
    if (picture->Width() != width || picture->Height() != height)
        return ::testing::AssertionFailure() << "the picture is " << picture->Width() << " x " << picture->Height();
    Pixels const actual = pixelsOf(*picture);
    for (std::size_t i = 0; i < actual.size(); ++i) {
        for (int shift = 0; shift < 32; shift += 8) {
            int const a = static_cast<int>((actual[i] >> shift) & 0xFF);
            int const e = static_cast<int>((expected[i] >> shift) & 0xFF);
            if (std::abs(a - e) > tolerance)
                return ::testing::AssertionFailure() << "pixel (" << i % static_cast<std::size_t>(width) << ", " << i / static_cast<std::size_t>(width)
                                                     << ") is " << hex(actual[i]) << " instead of " << hex(expected[i]);
        }
    }
    return ::testing::AssertionSuccess();
}

// The memory bound of damaged files: a reader that takes memory of the size
// a damaged header claims raises OutOfMemoryException instead of giving Nil.
constexpr long DamagedFileMebibytes = 64;

// Opening the file gives Nil, and raises nothing.
inline ::testing::AssertionResult givesNil(Ref<FolderItem> const& file)
{
    Ref<Picture> picture;
    Ref<RuntimeException> const raised = raisedBy([&] { picture = Picture::Open(file); });
    if (raised)
        return ::testing::AssertionFailure() << "raised " << raised->classRecord().name << ": " << raised->Message;
    if (picture)
        return ::testing::AssertionFailure() << "opened as " << picture->Width() << " x " << picture->Height();
    return ::testing::AssertionSuccess();
}

// The file's first bytes, cut at every length from 0 to `every` and then at
// `count` lengths spread over the rest, the whole file excluded.
inline std::vector<qsizetype> cutLengths(qsizetype size, qsizetype every = 64, qsizetype count = 24)
{
    std::vector<qsizetype> lengths;
    for (qsizetype length = 0; length < size && length <= every; ++length)
        lengths.push_back(length);
    for (qsizetype i = 1; i <= count; ++i) {
        qsizetype const length = every + (size - every) * i / (count + 1);
        if (length > lengths.back() && length < size)
            lengths.push_back(length);
    }
    return lengths;
}

}

namespace picture_files {

// The stored width x height pixels as they show upright, for the
// orientations numbered as photographs' tags number them.
inline Pixels upright(Pixels const& stored, int width, int height, int orientation, int& uprightWidth, int& uprightHeight)
{
    bool const swaps = orientation >= 5;
    uprightWidth = swaps ? height : width;
    uprightHeight = swaps ? width : height;
    Pixels result(stored.size());
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            int ux = x, uy = y;
            switch (orientation) {
            case 2: ux = width - 1 - x; break;
            case 3: ux = width - 1 - x, uy = height - 1 - y; break;
            case 4: uy = height - 1 - y; break;
            case 5: ux = y, uy = x; break;
            case 6: ux = height - 1 - y, uy = x; break;
            case 7: ux = height - 1 - y, uy = width - 1 - x; break;
            case 8: ux = y, uy = width - 1 - x; break;
            default: break;
            }
            result[static_cast<std::size_t>(uy * uprightWidth + ux)] = stored[static_cast<std::size_t>(y * width + x)];
        }
    }
    return result;
}

// Opens each damaged copy under the memory bound and expects Nil.
inline void expectEachGivesNil(QTemporaryDir const& folder, String const& name, std::vector<std::pair<String, QByteArray>> const& damaged)
{
    AddressSpaceLimit const bound(DamagedFileMebibytes);
    for (auto const& [what, bytes] : damaged) {
        SCOPED_TRACE(what);
        EXPECT_TRUE(givesNil(writeFile(folder, name, bytes)));
    }
}

// The bytes with a little-endian 16-bit value put at the offset.
inline QByteArray withLittle16(QByteArray bytes, qsizetype at, int value)
{
    bytes[at] = static_cast<char>(value);
    bytes[at + 1] = static_cast<char>(value >> 8);
    return bytes;
}

// Copies of the file cut at many lengths, the whole file's last `spare`
// bytes excepted (a trailer that a reader may do without).
inline void addCuts(std::vector<std::pair<String, QByteArray>>& damaged, QByteArray const& bytes, String const& what, qsizetype spare = 0)
{
    for (qsizetype length : cutLengths(bytes.size() - spare))
        damaged.emplace_back(what + " cut at " + std::to_string(length), bytes.left(length));
}

}
