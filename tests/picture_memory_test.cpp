// The memory of pictures: the budget and the largest picture a file may
// hold under it, the cache that keeps freed large pictures' memory warm, and
// that a failed allocation leaves neither a wrong count nor a mapping behind.

#include "runtime/FolderItem.h"
#include "runtime/Picture.h"
#include "runtime/PixelCache.h"
#include "support/AddressSpaceLimit.h"
#include "support/Raises.h"

#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <new>
#include <sstream>
#include <string>

// Allocations through operator new fail on demand: the one after the given
// number of further allocations throws std::bad_alloc, as when memory runs
// out in the middle of making a picture.
namespace {
std::atomic<long> allocationsBeforeFailure { -1 };

void failAfter(long allocations) { allocationsBeforeFailure = allocations; }
void failNone() { allocationsBeforeFailure = -1; }
}

void* operator new(std::size_t size)
{
    long left = allocationsBeforeFailure.load();
    while (left >= 0 && !allocationsBeforeFailure.compare_exchange_weak(left, left - 1)) { }
    if (left == 0)
        throw std::bad_alloc();
    if (void* memory = std::malloc(size ? size : 1))
        return memory;
    throw std::bad_alloc();
}

void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace {

constexpr std::size_t MiB = std::size_t { 1 } << 20;

// Each test starts with nothing kept, the machine's budget and the usual
// idle period, and leaves them so.
struct PictureMemory : ::testing::Test {
    void SetUp() override { PixelCache::release(); }
    void TearDown() override
    {
        failNone();
        Picture::setMemoryBudgetForTests(0);
        PixelCache::setIdlePeriod(std::chrono::seconds(10));
        PixelCache::release();
    }
};

void scribble(Picture& picture)
{
    for (std::int32_t y = 0; y < picture.Height(); ++y)
        std::fill(picture.row(y), picture.row(y) + picture.Width(), 0xFF3366CCu);
}

bool transparentBlack(Picture const& picture)
{
    for (std::int32_t y = 0; y < picture.Height(); ++y) {
        std::uint32_t const* row = picture.row(y);
        if (std::any_of(row, row + picture.Width(), [](std::uint32_t pixel) { return pixel != 0; }))
            return false;
    }
    return true;
}

TEST_F(PictureMemory, AFreedLargePictureIsHandedBackClearToTheNextItHolds)
{
    // Sizes cleared on this thread and on several; made by the constructor
    // and for a decoder, which must not meet another picture's pixels
    // either; and after the event loop had the time to clear none, some or
    // all of the memory.
    struct Case {
        std::int32_t width, height;
        bool forDecoding;
        int idleMilliseconds;
    };
    for (Case const c : { Case { 1024, 1024, false, 0 }, Case { 2048, 2048, false, 0 }, Case { 2048, 2048, true, 0 }, Case { 3000, 2000, true, 0 },
             Case { 4096, 2048, false, 1 }, Case { 4096, 2048, true, 1000 } }) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height) + " after " + std::to_string(c.idleMilliseconds) + " ms");
        PixelCache::release();
        std::size_t const held = Picture::heldBytes();
        std::uint32_t const* memory;
        {
            Ref<Picture> first = Picture::create(4096, 2048);
            scribble(*first);
            memory = first->row(0);
        }
        if (c.idleMilliseconds)
            QTest::qWait(c.idleMilliseconds);
        EXPECT_EQ(PixelCache::heldBytes(), 32 * MiB);
        EXPECT_EQ(Picture::heldBytes(), held);

        Ref<Picture> const next = c.forDecoding ? Picture::createForDecoding(c.width, c.height, 0) : Picture::create(c.width, c.height);
        EXPECT_EQ(next->row(0), memory);
        EXPECT_EQ(PixelCache::heldBytes(), 0u);
        EXPECT_TRUE(transparentBlack(*next));
        // What lay beyond the new picture went back to the system.
        EXPECT_LT(Picture::heldBytes() - held, static_cast<std::size_t>(c.width) * c.height * 4 + 2 * MiB);
    }
}

TEST_F(PictureMemory, APictureLargerThanAnyKeptBufferGetsFreshMemory)
{
    Picture::create(1024, 1024);
    Ref<Picture> const larger = Picture::create(2048, 1024);
    EXPECT_EQ(PixelCache::heldBytes(), 4 * MiB);
    EXPECT_TRUE(transparentBlack(*larger));
}

TEST_F(PictureMemory, TheCacheLetsGoAfterItsIdlePeriod)
{
    PixelCache::setIdlePeriod(std::chrono::milliseconds(50));
    Picture::create(2048, 1024);
    EXPECT_EQ(PixelCache::heldBytes(), 8 * MiB);
    EXPECT_TRUE(QTest::qWaitFor([] { return PixelCache::heldBytes() == 0; }, 2000));
}

TEST_F(PictureMemory, TheCacheKeepsAFewBuffersWithinAQuarterOfTheBudget)
{
    Picture::setMemoryBudgetForTests(96 * MiB);
    {
        std::vector<Ref<Picture>> pictures;
        for (int i = 0; i < 5; ++i)
            pictures.push_back(Picture::create(2048, 1024)); // 8 MiB each
    }
    EXPECT_EQ(PixelCache::heldBytes(), 24 * MiB);

    Picture::setMemoryBudgetForTests(1024 * MiB);
    {
        std::vector<Ref<Picture>> pictures;
        for (std::size_t i = 0; i < PixelCache::MaximumBuffers + 2; ++i)
            pictures.push_back(Picture::create(1024, 1024));
    }
    EXPECT_EQ(PixelCache::heldBytes(), PixelCache::MaximumBuffers * 4 * MiB);
}

TEST_F(PictureMemory, TheCacheMakesRoomForAPictureThatNeedsIt)
{
    Picture::setMemoryBudgetForTests(64 * MiB);
    std::size_t const held = Picture::heldBytes();
    {
        Ref<Picture> const a = Picture::create(2048, 1024);
        Ref<Picture> const b = Picture::create(2048, 1024);
    }
    ASSERT_EQ(PixelCache::heldBytes(), 16 * MiB);

    // 56 MiB fit in the budget only once the kept 16 MiB are let go.
    Ref<Picture> const large = Picture::create(4096, 3584);
    EXPECT_EQ(PixelCache::heldBytes(), 0u);
    EXPECT_EQ(Picture::heldBytes() - held, 56 * MiB);
    EXPECT_TRUE(raises<OutOfMemoryException>([] { Picture::create(2048, 1040); }, "There is not enough memory for a picture of 2048 x 1040 pixels"));
}

TEST_F(PictureMemory, TheCacheLetsGoWhenTheSystemHasNoMoreMemory)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer needs all the address space it reserves";
#else
    {
        Ref<Picture> const a = Picture::createForDecoding(4096, 8192, 0);
        Ref<Picture> const b = Picture::createForDecoding(4096, 8192, 0);
    }
    ASSERT_EQ(PixelCache::heldBytes(), 256 * MiB);
    AddressSpaceLimit const limit(150);
    ASSERT_TRUE(limit.limited());
    // 192 MiB: more than either kept buffer holds, and more than the system
    // gives while the cache keeps both.
    Ref<Picture> large;
    Ref<RuntimeException> const raised = raisedBy([&] { large = Picture::createForDecoding(4096, 12288, 0); });
    EXPECT_TRUE(raised.isNil());
    EXPECT_TRUE(large);
    EXPECT_EQ(PixelCache::heldBytes(), 0u);
#endif
}

// ---- The largest picture a file may hold ----------------------------------

struct LargestPicture : PictureMemory {
    QTemporaryDir folder;
    Ref<FolderItem> png(char const* name, int width, int height)
    {
        QImage image(width, height, QImage::Format_ARGB32);
        image.fill(QColor(10, 20, 30));
        QString const path = folder.filePath(name);
        EXPECT_TRUE(image.save(path));
        return FolderItem::forPath(path.toStdString());
    }
};

TEST_F(LargestPicture, FollowsTheBudgetAndRefusalsSayWhatThisMachineAllows)
{
    Ref<FolderItem> const fits = png("fits.png", 1024, 1024);
    Ref<FolderItem> const large = png("large photo.png", 1025, 1024);

    // Seven pictures of 1024 x 1024 take 28 MiB.
    Picture::setMemoryBudgetForTests(28 * MiB);
    EXPECT_EQ(Picture::largestPicturePixels(), 1024 * 1024);
    EXPECT_TRUE(Picture::Open(fits));
    EXPECT_TRUE(raises<OutOfMemoryException>([&] { Picture::Open(large); },
        "large photo.png is 1025 x 1024 pixels; this computer's memory allows pictures of up to 1 million pixels"));

    Picture::setMemoryBudgetForTests(std::size_t { 64 } << 30);
    EXPECT_EQ(Picture::largestPicturePixels(), (std::int64_t { 64 } << 30) / 28);
    EXPECT_TRUE(Picture::Open(large));

    Picture::setMemoryBudgetForTests(20 * MiB);
    EXPECT_TRUE(raises<OutOfMemoryException>([&] { Picture::Open(fits); },
        "fits.png is 1024 x 1024 pixels; this computer's memory allows pictures of up to 748982 pixels"));
}

TEST_F(LargestPicture, ADamagedFileStaysNilUnderAnyBudget)
{
    QString const path = folder.filePath("damaged.png");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("\x89PNG\r\n\x1a\n this is not the rest of a picture");
    file.close();
    for (std::size_t budget : { 1 * MiB, std::size_t { 64 } << 30 }) {
        Picture::setMemoryBudgetForTests(budget);
        EXPECT_TRUE(Picture::Open(FolderItem::forPath(path.toStdString())).isNil());
    }
}

// ---- Allocations that fail ------------------------------------------------

// How many mappings of the given size the process holds (neighbours of the
// same kind may have merged into one).
std::size_t mappingsOf(std::size_t bytes)
{
    std::ifstream maps("/proc/self/maps");
    std::string line;
    std::size_t count = 0;
    while (std::getline(maps, line)) {
        std::istringstream range(line);
        std::uintptr_t start = 0, end = 0;
        char dash = 0;
        range >> std::hex >> start >> dash >> end;
        if (end > start && (end - start) % bytes == 0)
            count += (end - start) / bytes;
    }
    return count;
}

TEST_F(PictureMemory, AnAllocationThatFailsAnywhereLeavesTheCountAndNoMapping)
{
    // A size whose pages are brought in on threads, and whose mapping's size
    // no other mapping has.
    constexpr std::int32_t width = 4099, height = 2049;
    constexpr std::size_t mapped = (std::size_t { width } * height * 4 + 4095) / 4096 * 4096;
    for (bool warm : { false, true }) {
        SCOPED_TRACE(warm ? "memory from the cache" : "fresh memory");
        Ref<Picture> const picture = Picture::create(8, 8);
        std::size_t const held = Picture::heldBytes();
        std::size_t const mappings = mappingsOf(mapped);
        long failures = 0;
        // Each round fails one allocation further on, until a round makes
        // the picture without reaching the failure.
        for (long allocations = 0;; ++allocations) {
            SCOPED_TRACE("failing after " + std::to_string(allocations) + " allocations");
            if (warm)
                Picture::create(width, height); // its memory goes to the cache
            failAfter(allocations);
            bool made = false;
            try {
                picture->Constructor(width, height);
                made = true;
            } catch (...) {
                ++failures;
            }
            bool const failedOne = allocationsBeforeFailure < 0;
            failNone();
            if (made) {
                EXPECT_TRUE(transparentBlack(*picture));
                picture->Constructor(8, 8);
            }
            EXPECT_EQ(picture->Width(), 8);
            EXPECT_EQ(Picture::heldBytes(), held);
            PixelCache::release();
            EXPECT_EQ(mappingsOf(mapped), mappings);
            if (!failedOne)
                break;
            ASSERT_LT(allocations, 1000);
        }
        EXPECT_GT(failures, 0);
    }
}

}
