#pragma once

// Shared pieces of the tests of reading picture files: writing a file,
// comparing what it opens as, and opening damaged files within a bound.

#include "runtime/Exceptions.h"
#include "runtime/FolderItem.h"
#include "runtime/Picture.h"
#include "support/Raises.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstdint>
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
                                                     << ") is " << std::hex << actual[i] << " instead of " << expected[i];
        }
    }
    return ::testing::AssertionSuccess();
}

// While one lives, the process may map only 64 MiB more than it has: a
// reader that takes memory of the size a damaged header claims raises
// OutOfMemoryException instead of giving Nil. The address sanitizer needs
// all the address space it reserves, so there it only checks the outcome.
class DamagedFileMemoryBound {
public:
    DamagedFileMemoryBound()
    {
#if !defined(__SANITIZE_ADDRESS__)
        getrlimit(RLIMIT_AS, &m_saved);
        std::ifstream status("/proc/self/status");
        std::string line;
        long kilobytes = 0;
        while (std::getline(status, line))
            if (line.rfind("VmSize:", 0) == 0)
                kilobytes = std::stol(line.substr(7));
        rlimit tight = m_saved;
        tight.rlim_cur = static_cast<rlim_t>(kilobytes + 64 * 1024) * 1024;
        m_limited = kilobytes > 0 && setrlimit(RLIMIT_AS, &tight) == 0;
#endif
    }
    ~DamagedFileMemoryBound()
    {
        if (m_limited)
            setrlimit(RLIMIT_AS, &m_saved);
    }
    DamagedFileMemoryBound(DamagedFileMemoryBound const&) = delete;
    DamagedFileMemoryBound& operator=(DamagedFileMemoryBound const&) = delete;

private:
    rlimit m_saved {};
    bool m_limited = false;
};

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
