#include "runtime/Exceptions.h"
#include "runtime/FolderItem.h"
#include "runtime/Picture.h"
#include "runtime/SpecialFolder.h"
#include "support/PictureFiles.h"
#include "support/Raises.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>
#include <zlib.h>

#include <array>
#include <csignal>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <random>
#include <vector>

namespace {

using Pixels = std::array<std::uint32_t, 12>;

// The fixtures are all 4 x 3 pixels of one pattern, as straight ARGB words.
// The bottom row is partly transparent where the format has alpha: half,
// a quarter, and twice fully clear, once with a colour kept.
constexpr Pixels withAlpha {
    0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF,
    0xFF000000, 0xFF808080, 0xFFC86432, 0xFF00C8C8,
    0x80FF8000, 0x400A141E, 0x00285078, 0x00000000,
};
// The same colours, opaque, for the formats without alpha.
constexpr Pixels opaque {
    0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF,
    0xFF000000, 0xFF808080, 0xFFC86432, 0xFF00C8C8,
    0xFFFF8000, 0xFF0A141E, 0xFF285078, 0xFF000000,
};
// GIF has one clear palette entry, used by the last pixel; its colour is white.
constexpr Pixels gifPixels {
    0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF,
    0xFF000000, 0xFF808080, 0xFFC86432, 0xFF00C8C8,
    0xFFFF8000, 0xFF0A141E, 0xFF285078, 0x00FFFFFF,
};

struct Fixture {
    char const* name;
    Pixels const& pixels;
    int tolerance; // per channel; 0 for the lossless formats
    int structureAt; // where the format's own header starts, with its signature
    int pixelCut; // a length that ends inside the pixel data
};

Fixture const fixtures[] = {
    { "pattern.png", withAlpha, 0, 0, 70 },
    { "pattern.jpg", opaque, 16, 0, 400 },
    { "pattern.tif", withAlpha, 0, 0, 30 },
    { "pattern.pct", opaque, 0, 512, 650 },
    { "pattern.gif", gifPixels, 0, 0, 85 },
    { "pattern.bmp", opaque, 0, 0, 70 },
    { "pattern.tga", withAlpha, 0, 0, 40 },
};

String fixturePath(char const* name)
{
    return String(VANTREL_FIXTURES) + "/" + name;
}

QByteArray fixtureBytes(char const* name)
{
    QFile file(QString::fromStdString(fixturePath(name)));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll();
}

Ref<FolderItem> itemIn(QTemporaryDir const& folder, char const* name)
{
    return FolderItem::forPath(folder.filePath(name).toStdString());
}

Ref<FolderItem> writeFile(QTemporaryDir const& folder, char const* name, QByteArray const& bytes)
{
    QFile file(folder.filePath(name));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return itemIn(folder, name);
}

QByteArray contentOf(Ref<FolderItem> const& file)
{
    QFile in(QString::fromStdString(file->path()));
    return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
}

bool channelsWithin(std::uint32_t actual, std::uint32_t expected, int tolerance)
{
    for (int shift = 0; shift < 32; shift += 8) {
        int const a = static_cast<int>((actual >> shift) & 0xFF);
        int const e = static_cast<int>((expected >> shift) & 0xFF);
        if (std::abs(a - e) > tolerance)
            return false;
    }
    return true;
}

std::vector<std::uint32_t> pixelsOf(Picture const& picture)
{
    std::vector<std::uint32_t> pixels;
    for (std::int32_t y = 0; y < picture.Height(); ++y)
        pixels.insert(pixels.end(), picture.row(y), picture.row(y) + picture.Width());
    return pixels;
}

// A picture that holds the given straight ARGB words, row by row.
Ref<Picture> pictureOf(std::int32_t width, std::int32_t height, std::vector<std::uint32_t> const& pixels)
{
    Ref<Picture> picture = Picture::create(width, height);
    for (std::int32_t y = 0; y < height; ++y)
        std::copy_n(pixels.begin() + y * width, width, picture->row(y));
    return picture;
}

TEST(PictureOpen, EveryTypeDecodesToItsPattern)
{
    for (Fixture const& fixture : fixtures) {
        SCOPED_TRACE(fixture.name);
        Ref<Picture> picture = Picture::Open(FolderItem::forPath(fixturePath(fixture.name)));
        ASSERT_TRUE(picture);
        ASSERT_EQ(picture->Width(), 4);
        ASSERT_EQ(picture->Height(), 3);
        std::vector<std::uint32_t> const pixels = pixelsOf(*picture);
        for (std::size_t i = 0; i < pixels.size(); ++i)
            EXPECT_TRUE(channelsWithin(pixels[i], fixture.pixels[i], fixture.tolerance))
                << "pixel " << i << ": " << std::hex << pixels[i] << " instead of " << fixture.pixels[i];
    }
}

TEST(PictureOpen, DamagedCopiesGiveNil)
{
    QTemporaryDir folder;
    for (Fixture const& fixture : fixtures) {
        QByteArray const bytes = fixtureBytes(fixture.name);
        QByteArray garbled = bytes;
        for (int i = fixture.structureAt; i < fixture.structureAt + 4; ++i)
            garbled[i] = static_cast<char>(garbled[i] ^ 0xFF);
        struct Damage {
            char const* what;
            QByteArray bytes;
        } const damages[] = {
            { "empty", {} },
            { "cut in the header", bytes.left(fixture.structureAt + 10) },
            { "cut in the pixels", bytes.left(fixture.pixelCut) },
            { "start garbled", garbled },
        };
        for (Damage const& damage : damages) {
            SCOPED_TRACE(String(fixture.name) + ", " + damage.what);
            // The copy keeps the fixture's name, so decoders chosen by name
            // are tried too.
            Ref<FolderItem> copy = writeFile(folder, fixture.name, damage.bytes);
            EXPECT_TRUE(Picture::Open(copy).isNil());
        }
    }
}

// Sends what the process writes to stderr into a file while it lives.
class CapturedStderr {
public:
    CapturedStderr()
        : m_saved(dup(STDERR_FILENO))
    {
        std::fflush(stderr);
        m_file.open();
        dup2(m_file.handle(), STDERR_FILENO);
    }
    ~CapturedStderr() { restore(); }
    CapturedStderr(CapturedStderr const&) = delete;
    CapturedStderr& operator=(CapturedStderr const&) = delete;

    QByteArray text()
    {
        restore();
        m_file.seek(0);
        return m_file.readAll();
    }

private:
    void restore()
    {
        if (m_saved < 0)
            return;
        std::fflush(stderr);
        dup2(m_saved, STDERR_FILENO);
        close(m_saved);
        m_saved = -1;
    }
    int m_saved;
    QTemporaryFile m_file;
};

TEST(PictureOpen, DecodingWritesNothingToStderr)
{
    QTemporaryDir folder;
    CapturedStderr captured;
    for (Fixture const& fixture : fixtures) {
        QByteArray const bytes = fixtureBytes(fixture.name);
        EXPECT_TRUE(Picture::Open(FolderItem::forPath(fixturePath(fixture.name)))) << fixture.name;
        QByteArray garbled = bytes;
        for (qsizetype i = fixture.structureAt + 8; i < garbled.size(); i += 3)
            garbled[i] = static_cast<char>(garbled[i] ^ 0x5A);
        for (QByteArray const& damaged : { bytes.left(fixture.pixelCut), bytes.left(fixture.structureAt + 10), garbled })
            Picture::Open(writeFile(folder, fixture.name, damaged));
    }
    EXPECT_EQ(captured.text(), QByteArray());
}

TEST(PictureOpen, WhatIsNoPictureOfTheSevenTypesGivesNil)
{
    QTemporaryDir folder;
    QByteArray const otherFormat = QByteArray("P6\n4 3\n255\n") + QByteArray(36, '\x7F');
    Ref<FolderItem> const cases[] = {
        itemIn(folder, "missing.png"),
        FolderItem::forPath(folder.path().toStdString()),
        FolderItem::forPath("/dev/null"),
        writeFile(folder, "other.ppm", otherFormat),
        // The PICT decoder must not decode another format by its content.
        writeFile(folder, "other.pct", otherFormat),
    };
    for (Ref<FolderItem> const& file : cases) {
        SCOPED_TRACE(file->path());
        EXPECT_TRUE(Picture::Open(file).isNil());
    }
}

TEST(PictureOpen, ContentDecidesOverTheName)
{
    QTemporaryDir folder;
    Ref<Picture> picture = Picture::Open(writeFile(folder, "misnamed.tga", fixtureBytes("pattern.png")));
    ASSERT_TRUE(picture);
    std::vector<std::uint32_t> const pixels = pixelsOf(*picture);
    EXPECT_TRUE(std::equal(pixels.begin(), pixels.end(), withAlpha.begin(), withAlpha.end()));
}

TEST(PictureOpen, TargaWithoutTheNewerFooterOpens)
{
    QTemporaryDir folder;
    QByteArray bytes = fixtureBytes("pattern.tga");
    ASSERT_TRUE(bytes.endsWith(QByteArray("TRUEVISION-XFILE.\0", 18)));
    bytes.chop(26);
    Ref<Picture> picture = Picture::Open(writeFile(folder, "old.tga", bytes));
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->row(2)[0], withAlpha[8]);
}

TEST(PictureOpen, NilFileRaisesWithoutMessage)
{
    EXPECT_TRUE(raises<NilObjectException>([] { Picture::Open(nullptr); }, ""));
}

TEST(PictureOpen, SidesBeyondTheCopyLimitAreRefusedAtTheHeaderAndTooLargePicturesRaise)
{
    QTemporaryDir folder;
    QImage wide(32767, 1, QImage::Format_ARGB32);
    wide.fill(0x80102030);
    ASSERT_TRUE(wide.save(folder.filePath("wide.png")));
    Ref<Picture> picture = Picture::Open(itemIn(folder, "wide.png"));
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->Width(), 32767);
    EXPECT_EQ(picture->row(0)[32766], 0x80102030u);

    // A valid file with a side beyond 32767 raises what the copy would, as
    // soon as its header is read: within a bound far below the picture's
    // size, so before any of the picture's memory is taken.
    QImage oneBit(40000, 3000, QImage::Format_Mono);
    oneBit.fill(1);
    ASSERT_TRUE(oneBit.save(folder.filePath("40000x3000.png")));
    QImage grey(40000, 64, QImage::Format_Grayscale8);
    for (int y = 0; y < grey.height(); ++y)
        for (int x = 0; x < grey.width(); ++x)
            grey.scanLine(y)[x] = static_cast<uchar>(x * 7 + y * 3);
    ASSERT_TRUE(grey.save(folder.filePath("40000x64.jpg"), "JPEG", 90));
    QByteArray tallTarga = QByteArray("\0\0\3\0\0\0\0\0\0\0\0\0\x10\0\x40\x9C\x08\0", 18) + QByteArray(16 * 40000, '\x55');
    picture_files::writeFile(folder, "16x40000.tga", tallTarga);
    {
        AddressSpaceLimit const bound(picture_files::DamagedFileMebibytes);
        for (char const* name : { "40000x3000.png", "40000x64.jpg", "16x40000.tga" }) {
            SCOPED_TRACE(name);
            EXPECT_TRUE(raises<OutOfBoundsException>([&] { Picture::Open(itemIn(folder, name)); }, "Width/Height needs to be in the range 1-32767"));
        }
    }

    // A header that claims more pixels than a picture may have (under a
    // budget of 1 GiB) raises, once the file is long enough to hold them; a
    // short one that claims as much is only damaged.
    auto bigEndian = [](std::uint32_t value) {
        char const bytes[] { static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8), static_cast<char>(value) };
        return QByteArray(bytes, 4);
    };
    auto pngClaiming = [&](std::uint32_t side, qsizetype dataBytes) {
        QByteArray header = QByteArray("\x00\x00\x00\x0DIHDR", 8) + bigEndian(side) + bigEndian(side) + QByteArray("\x08\x02\x00\x00\x00", 5);
        header += bigEndian(static_cast<std::uint32_t>(crc32(0, reinterpret_cast<Bytef const*>(header.constData() + 4), 17)));
        return QByteArray("\x89PNG\r\n\x1A\n", 8) + header + QByteArray(dataBytes, '\0');
    };
    Picture::setMemoryBudgetForTests(std::size_t { 1 } << 30);
    Ref<FolderItem> huge = writeFile(folder, "huge.png", pngClaiming(20000, 1200000));
    EXPECT_TRUE(raises<OutOfMemoryException>([&] { Picture::Open(huge); },
        "huge.png is 20000 x 20000 pixels; this computer's memory allows pictures of up to 38 million pixels"));
    EXPECT_TRUE(Picture::Open(writeFile(folder, "short.png", pngClaiming(20000, 100))).isNil());
    Picture::setMemoryBudgetForTests(0);
}

TEST(PictureOpen, AFailedAllocationWhileDecodingRaises)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer needs all the address space it reserves";
#else
    // A valid 8000 x 8000 PNG, 244 MiB as a picture, opened while the process
    // may map only 128 MiB more than it has.
    QTemporaryDir folder;
    QImage plain(8000, 8000, QImage::Format_RGB32);
    plain.fill(0xFF336699);
    ASSERT_TRUE(plain.save(folder.filePath("large.png")));
    plain = QImage();
    Ref<FolderItem> file = itemIn(folder, "large.png");

    Ref<RuntimeException> raised;
    {
        AddressSpaceLimit const limit(128);
        ASSERT_TRUE(limit.limited());
        raised = raisedBy([&] { Picture::Open(file); });
    }
    ASSERT_TRUE(raised);
    EXPECT_TRUE(raised->isKindOf(OutOfMemoryException::Lookup_()));
    EXPECT_EQ(raised->Message, "There is not enough memory for a picture of 8000 x 8000 pixels");
    EXPECT_TRUE(Picture::Open(file));
#endif
}

TEST(PictureFromImage, ConvertsToStraightArgbAndKeepsItsOwnCopy)
{
    QImage premultiplied(2, 1, QImage::Format_ARGB32_Premultiplied);
    premultiplied.setPixel(0, 0, 0x33331100); // straight 0x33FF5500
    premultiplied.setPixel(1, 0, 0xFF00FF00);
    Ref<Picture> converted = Picture::fromImage(premultiplied);
    ASSERT_TRUE(converted);
    EXPECT_EQ(converted->row(0)[0], 0x33FF5500u);
    EXPECT_EQ(converted->row(0)[1], 0xFF00FF00u);

    // An image in the picture's own format is shared by Qt until written:
    // the picture's writes must not reach it.
    QImage source(32768, 1, QImage::Format_ARGB32);
    source.fill(0xFF0000FF);
    Ref<Picture> copy = Picture::fromImage(source);
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->Width(), 32768);
    copy->row(0)[0] = 0xFFFF0000;
    EXPECT_EQ(source.pixel(0, 0), 0xFF0000FFu);

    EXPECT_TRUE(Picture::fromImage(QImage()).isNil());
}

TEST(PictureSave, PngKeepsEveryStraightValue)
{
    // Every alpha from clear to opaque, with colours that premultiplication
    // would change or lose.
    std::vector<std::uint32_t> pixels;
    std::mt19937 random(7);
    for (std::uint32_t alpha = 0; alpha < 256; ++alpha)
        pixels.push_back(alpha << 24 | (random() & 0xFFFFFF));
    Ref<Picture> picture = pictureOf(16, 16, pixels);

    QTemporaryDir folder;
    for (std::int32_t quality : { -1, 0, 100 }) {
        SCOPED_TRACE(quality);
        Ref<FolderItem> file = itemIn(folder, "out.png");
        picture->Save(file, 150, quality);
        EXPECT_TRUE(contentOf(file).startsWith("\x89PNG"));
        Ref<Picture> back = Picture::Open(file);
        ASSERT_TRUE(back);
        EXPECT_EQ(pixelsOf(*back), pixels);
    }
}

TEST(PictureSave, ChecksQualityThenFileThenFormat)
{
    QTemporaryDir folder;
    Ref<Picture> picture = Picture::create(2, 2);
    Ref<FolderItem> file = itemIn(folder, "out.png");
    Ref<FolderItem> nil;
    String const quality = "The compression value is out of range, valid values are 0-100";
    String const folderItem = "The folder item passed cannot be nil";

    EXPECT_TRUE(raises<OutOfBoundsException>([&] { picture->Save(nil, 150, 101); }, quality));
    EXPECT_TRUE(raises<OutOfBoundsException>([&] { picture->Save(file, 150, -2); }, quality));
    EXPECT_TRUE(raises<NilObjectException>([&] { picture->Save(nil, 150, -1); }, folderItem));
    EXPECT_TRUE(raises<NilObjectException>([&] { picture->Save(nil, 7, 100); }, folderItem));
    Ref<RuntimeException> unknown = raisedBy([&] { picture->Save(file, 151, -1); });
    ASSERT_TRUE(unknown);
    EXPECT_NE(unknown->Message.find("151"), String::npos);
    EXPECT_FALSE(file->Exists());
}

TEST(PictureSave, UnwritablePlacesRaiseAndLeaveNoFile)
{
    QTemporaryDir folder;
    writeFile(folder, "plain", "not a folder");
    ASSERT_TRUE(QDir(folder.path()).mkdir("taken.png"));
    Ref<Picture> picture = Picture::create(2, 2);
    char const* const targets[] = { "missing/out.png", "plain/out.png", "taken.png" };
    for (char const* target : targets) {
        SCOPED_TRACE(target);
        Ref<FolderItem> file = itemIn(folder, target);
        Ref<RuntimeException> raised = raisedBy([&] { picture->Save(file, 150, -1); });
        ASSERT_TRUE(raised);
        EXPECT_TRUE(raised->isKindOf(IOException::Lookup_())) << raised->classRecord().name;
        EXPECT_NE(raised->Message.find(file->path()), String::npos) << raised->Message;
    }
    EXPECT_FALSE(QFileInfo::exists(folder.filePath("missing")));
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
        (QStringList { "plain", "taken.png" }));
}

// Holds the process's file size limit low while it lives, the way a full
// disk would stop a write; the signal such a write sends is ignored.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = m_saved;
        lowered.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    FileSizeLimit(FileSizeLimit const&) = delete;
    FileSizeLimit& operator=(FileSizeLimit const&) = delete;

private:
    rlimit m_saved {};
    void (*m_oldHandler)(int) = nullptr;
};

TEST(PictureSave, FailedWriteLeavesTheOldFileWhole)
{
    QTemporaryDir folder;
    QByteArray const old = fixtureBytes("pattern.png");
    Ref<FolderItem> file = writeFile(folder, "out.png", old);

    // Noise does not compress, so its PNG is far larger than the limit.
    std::vector<std::uint32_t> noise(128 * 128);
    std::mt19937 random(11);
    for (std::uint32_t& pixel : noise)
        pixel = static_cast<std::uint32_t>(random());
    Ref<Picture> picture = pictureOf(128, 128, noise);

    Ref<RuntimeException> raised;
    {
        FileSizeLimit limit(4096);
        raised = raisedBy([&] { picture->Save(file, 150, -1); });
    }
    ASSERT_TRUE(raised);
    EXPECT_TRUE(raised->isKindOf(IOException::Lookup_())) << raised->classRecord().name;
    // The write stops short at the limit; the reason is the system's.
    EXPECT_EQ(raised->Message, "The picture could not be saved to " + file->path() + ": File too large");
    EXPECT_EQ(contentOf(file), old);
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList { "out.png" });
}

TEST(FolderItemTest, NamesAndTellsWhatIsThere)
{
    QTemporaryDir folder;
    writeFile(folder, "file.png", "x");
    struct Case {
        String path;
        String name;
        bool exists;
        bool directory;
    } const cases[] = {
        { folder.filePath("file.png").toStdString(), "file.png", true, false },
        { folder.path().toStdString() + "/", QDir(folder.path()).dirName().toStdString(), true, true },
        { folder.filePath("none.png").toStdString(), "none.png", false, false },
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.path);
        Ref<FolderItem> item = FolderItem::forPath(c.path);
        EXPECT_EQ(item->path(), c.path);
        EXPECT_EQ(item->Name(), c.name);
        EXPECT_EQ(item->Exists(), c.exists);
        EXPECT_EQ(item->Directory(), c.directory);
    }
}

// Points the home folder at a temporary one while it lives.
class TemporaryHome {
public:
    explicit TemporaryHome(QString const& home)
        : m_home(qgetenv("HOME"))
        , m_config(qgetenv("XDG_CONFIG_HOME"))
        , m_hadConfig(qEnvironmentVariableIsSet("XDG_CONFIG_HOME"))
    {
        qputenv("HOME", home.toUtf8());
        qputenv("XDG_CONFIG_HOME", (home + "/config").toUtf8()); // no user-dirs file there
    }
    ~TemporaryHome()
    {
        qputenv("HOME", m_home);
        if (m_hadConfig)
            qputenv("XDG_CONFIG_HOME", m_config);
        else
            qunsetenv("XDG_CONFIG_HOME");
    }
    TemporaryHome(TemporaryHome const&) = delete;
    TemporaryHome& operator=(TemporaryHome const&) = delete;

private:
    QByteArray m_home;
    QByteArray m_config;
    bool m_hadConfig;
};

TEST(SpecialFolderTest, PicturesIsAnExistingFolderOrElseHome)
{
    EXPECT_TRUE(SpecialFolder::Pictures()->Directory());

    QTemporaryDir home;
    TemporaryHome temporary(home.path());
    EXPECT_EQ(SpecialFolder::Pictures()->path(), home.path().toStdString());
    ASSERT_TRUE(QDir(home.path()).mkdir("Pictures"));
    EXPECT_EQ(SpecialFolder::Pictures()->path(), home.filePath("Pictures").toStdString());
}

}
