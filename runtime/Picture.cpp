#include "runtime/Picture.h"

#include "runtime/BackgroundTask.h"
#include "runtime/Exceptions.h"
#include "runtime/Graphics.h"
#include "runtime/PixelCache.h"
#include "runtime/RGBSurface.h"
#include "runtime/ReducedCopy.h"
#include "runtime/Workers.h"

#include <QImage>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>
#include <utility>

namespace {

// Large pictures get their own mapping with huge pages where the system
// offers them: fresh mappings are zero, and huge pages cut the cost of first
// touching a big picture several hundredfold. Small ones come from the heap.
constexpr std::size_t mappedFrom = std::size_t { 2 } << 20;

// Memory that a process touches for the first time is slow to come by: the
// system (and under a virtual machine the host too) must find and clear
// every page. On one thread that is most of a first extraction's extra
// time, so the pages of a large picture are brought in at once, on a few
// threads, each clearing its own share, while this one keeps the window
// painted. Half the cores do it: with all of them, the paints themselves
// stall. A picture that a decoder fills is not brought in first: its rows
// come in as the decoder writes them, between its own yields. Nor is a
// picture far beyond camera size: it would take real memory at once that it
// may never use, for seconds.
constexpr std::size_t populatedFrom = std::size_t { 32 } << 20;
constexpr std::size_t populatedUpTo = std::size_t { 512 } << 20;
constexpr std::size_t populateShare = std::size_t { 2 } << 20;

// Does the work on each share of the memory, on half the cores, while this
// thread keeps the window painted.
void inShares(void* memory, std::size_t bytes, void (*work)(char* share, std::size_t shareBytes))
{
    std::size_t const shares = (bytes + populateShare - 1) / populateShare;
    std::size_t const threads = std::min<std::size_t>(std::max(1u, std::thread::hardware_concurrency() / 2), shares);
    std::atomic<std::size_t> next { 0 };
    Workers workers(threads, [&] {
        for (std::size_t share; (share = next++) < shares;) {
            std::size_t const start = share * populateShare;
            work(static_cast<char*>(memory) + start, std::min(populateShare, bytes - start));
        }
    });
    workers.wait();
}

void populate(void* mapped, std::size_t bytes)
{
    // Where the system cannot do it now, the pages still come on first use.
    inShares(mapped, bytes, [](char* share, std::size_t shareBytes) { madvise(share, shareBytes, MADV_POPULATE_WRITE); });
}

struct PixelBuffer {
    std::uint32_t* pixels;
    std::size_t bytes;
};

// Clears what the cache has not cleared yet of memory that another picture
// used, so that a new picture is transparent black. The memory is warm, so
// this costs only the writing; much of it is cleared in shares on a few
// threads, as the pages of a new picture are brought in.
constexpr std::size_t clearedOnThreadsFrom = std::size_t { 16 } << 20;

void clearPixels(void* memory, std::size_t bytes)
{
    if (bytes < clearedOnThreadsFrom)
        std::memset(memory, 0, bytes);
    else
        inShares(memory, bytes, [](char* share, std::size_t shareBytes) { std::memset(share, 0, shareBytes); });
}

// A mapping of the given bytes, or null when the system has none. What the
// cache keeps is the first memory to give back when the system is short.
void* mapPixels(std::size_t bytes)
{
    void* mapped = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) {
        PixelCache::release();
        mapped = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    }
    return mapped == MAP_FAILED ? nullptr : mapped;
}

// Warm memory from the cache for a large picture, cleared; or none.
PixelBuffer warmPixels(std::size_t bytes)
{
    if (bytes < mappedFrom)
        return { nullptr, 0 };
    PixelCache::Buffer const warm = PixelCache::take(bytes);
    if (!warm.memory)
        return { nullptr, 0 };
    try {
        if (warm.clearBytes < bytes)
            clearPixels(static_cast<char*>(warm.memory) + warm.clearBytes, bytes - warm.clearBytes);
    } catch (...) {
        munmap(warm.memory, warm.bytes);
        throw;
    }
    return { static_cast<std::uint32_t*>(warm.memory), warm.bytes };
}

// Memory that the process has not used yet, which is zero; none when the
// system has none to give.
PixelBuffer freshPixels(std::size_t bytes, bool bringInPages)
{
    if (bytes < mappedFrom) {
        void* allocated = std::calloc(bytes, 1);
        if (!allocated) {
            PixelCache::release();
            allocated = std::calloc(bytes, 1);
        }
        return { static_cast<std::uint32_t*>(allocated), bytes };
    }
    void* mapped = mapPixels(bytes);
    if (!mapped)
        return { nullptr, 0 };
    madvise(mapped, bytes, MADV_HUGEPAGE);
    if (bringInPages && bytes >= populatedFrom && bytes <= populatedUpTo) {
        try {
            populate(mapped, bytes);
        } catch (...) {
            munmap(mapped, bytes);
            throw;
        }
    }
    return { static_cast<std::uint32_t*>(mapped), bytes };
}

void freePixels(PixelBuffer const& buffer)
{
    if (buffer.bytes < mappedFrom)
        std::free(buffer.pixels);
    else if (!PixelCache::keep({ buffer.pixels, buffer.bytes }, Picture::memoryBudget() / 4))
        munmap(buffer.pixels, buffer.bytes);
}

// The cleanup of an image that holds a picture's pixels.
void freeImagePixels(void* info)
{
    auto* buffer = static_cast<PixelBuffer*>(info);
    freePixels(*buffer);
    delete buffer;
}

// Frees pixels that no image holds yet.
struct PixelBufferOwner {
    PixelBuffer buffer;
    ~PixelBufferOwner()
    {
        if (buffer.pixels)
            freePixels(buffer);
    }
};

}

namespace {
std::size_t allPictureBytes = 0;
std::size_t budgetForTests = 0;

[[noreturn]] void raiseNoMemory(std::int32_t width, std::int32_t height)
{
    Raise<OutOfMemoryException>("There is not enough memory for a picture of " + std::to_string(width) + " x " + std::to_string(height) + " pixels");
}
}

Picture::Picture() = default;

Picture::~Picture()
{
    releaseMemory();
}

std::size_t Picture::heldBytes()
{
    return allPictureBytes;
}

std::size_t Picture::memoryBudget()
{
    // Three quarters of the machine's memory, for all pictures together.
    static std::size_t const machineBudget = [] {
        long const pages = sysconf(_SC_PHYS_PAGES);
        long const pageSize = sysconf(_SC_PAGE_SIZE);
        if (pages <= 0 || pageSize <= 0)
            return SIZE_MAX;
        return static_cast<std::size_t>(pages) / 4 * 3 * static_cast<std::size_t>(pageSize);
    }();
    return budgetForTests ? budgetForTests : machineBudget;
}

void Picture::setMemoryBudgetForTests(std::size_t bytes)
{
    PixelCache::release();
    budgetForTests = bytes;
}

std::int64_t Picture::largestPicturePixels()
{
    return static_cast<std::int64_t>(memoryBudget() / (PicturesOfARoad * sizeof(std::uint32_t)));
}

void Picture::checkMemory(std::int32_t width, std::int32_t height, std::size_t workingBytes) const
{
    std::size_t const pixelBytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * sizeof(std::uint32_t);
    std::size_t const bytes = pixelBytes + std::min(workingBytes, memoryBudget());
    if (bytes > memoryBudget() || allPictureBytes - m_bytes > memoryBudget() - bytes)
        raiseNoMemory(width, height);
}

// What the cache keeps counts in the budget too: it is let go when it and
// the memory about to be taken would not fit together, before that memory
// is taken.
void Picture::letCacheGoIfShort(std::size_t bytes) const
{
    if (allPictureBytes - m_bytes + bytes + PixelCache::heldBytes() > memoryBudget())
        PixelCache::release();
}

void Picture::claimMemory(std::size_t bytes)
{
    releaseMemory();
    m_bytes = bytes;
    allPictureBytes += m_bytes;
}

void Picture::releaseMemory()
{
    allPictureBytes -= m_bytes;
    m_bytes = 0;
}

ClassRecord Picture::buildRecord()
{
    return ClassRecordBuilder<Picture>("Picture").finaliser(&Picture::Exit_).build();
}

void Picture::checkSides(std::int64_t width, std::int64_t height)
{
    if (width < 1 || width > MaximumSide || height < 1 || height > MaximumSide)
        Raise<OutOfBoundsException>("Width/Height needs to be in the range 1-32767");
}

void Picture::Constructor(std::int32_t width, std::int32_t height)
{
    checkSides(width, height);
    allocate(width, height, 0, true);
}

void Picture::allocate(std::int32_t width, std::int32_t height, std::size_t workingBytes, bool bringInPages)
{
    std::size_t const count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    checkMemory(width, height, workingBytes);
    std::size_t const bytes = count * sizeof(std::uint32_t);
    // Pixels are transparent black: warm memory that another picture left,
    // cleared, or else fresh memory.
    PixelBufferOwner owner { warmPixels(bytes) };
    letCacheGoIfShort(bytes + std::min(workingBytes, memoryBudget()));
    if (!owner.buffer.pixels)
        owner.buffer = freshPixels(bytes, bringInPages);
    if (!owner.buffer.pixels)
        raiseNoMemory(width, height);
    // The image frees the buffer when it goes; it never copies it, since
    // nothing shares it.
    auto info = std::make_unique<PixelBuffer>(owner.buffer);
    auto image = std::make_unique<QImage>(reinterpret_cast<uchar*>(owner.buffer.pixels), width, height,
        static_cast<qsizetype>(width) * 4, QImage::Format_ARGB32, freeImagePixels, info.get());
    if (image->isNull())
        raiseNoMemory(width, height);
    info.release();
    PixelBuffer const taken = std::exchange(owner.buffer, {});

    // Nothing below can fail: the picture changes whole or not at all.
    noteWrite();
    m_image = std::move(image);
    claimMemory(taken.bytes);
    m_pixels = taken.pixels;
    m_width = width;
    m_height = height;
    m_knownClear = true;
}

Ref<Picture> Picture::create(std::int32_t width, std::int32_t height)
{
    Ref<Picture> picture = RuntimeNewObject<Picture>();
    picture->Constructor(width, height);
    return picture;
}

Ref<Picture> Picture::createForDecoding(std::int32_t width, std::int32_t height, std::size_t workingBytes)
{
    Ref<Picture> picture = RuntimeNewObject<Picture>();
    picture->allocate(width, height, workingBytes, false);
    return picture;
}

Ref<Graphics> Picture::Graphics()
{
    if (!m_graphics)
        m_graphics = Graphics::forPicture(*this);
    return m_graphics;
}

Ref<RGBSurface> Picture::RGBSurface()
{
    return RGBSurface::of(Ref<Picture>(this));
}

QImage& Picture::image()
{
    noteWrite(); // whoever asks for the image to write may draw on it
    if (!m_image)
        m_image = std::make_unique<QImage>();
    return *m_image;
}

QImage const& Picture::image() const
{
    static QImage const none;
    return m_image ? *m_image : none;
}

void Picture::keepReducedCopy(std::unique_ptr<ReducedCopy> copy)
{
    m_reducedCopy = std::move(copy);
}

void Picture::dropReducedCopy()
{
    m_reducedCopy = nullptr;
}

void Picture::Exit_()
{
    dropReducedCopy();
    if (m_graphics) {
        m_graphics->detach();
        m_graphics = nullptr;
    }
}
