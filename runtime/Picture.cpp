#include "runtime/Picture.h"

#include "runtime/BackgroundTask.h"
#include "runtime/Exceptions.h"
#include "runtime/Graphics.h"
#include "runtime/RGBSurface.h"
#include "runtime/ReducedCopy.h"
#include "runtime/Workers.h"

#include <QImage>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <system_error>
#include <thread>
#include <vector>

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

void populate(void* mapped, std::size_t bytes)
{
    std::size_t const shares = (bytes + populateShare - 1) / populateShare;
    std::size_t const threads = std::min<std::size_t>(std::max(1u, std::thread::hardware_concurrency() / 2), shares);
    std::atomic<std::size_t> next { 0 };
    Workers workers(threads, [&] {
        for (std::size_t share; (share = next++) < shares;) {
            std::size_t const start = share * populateShare;
            // Where the system cannot do it now, the pages still come on first use.
            madvise(static_cast<char*>(mapped) + start, std::min(populateShare, bytes - start), MADV_POPULATE_WRITE);
        }
    });
    workers.wait();
}

struct PixelBuffer {
    std::uint32_t* pixels;
    std::size_t bytes;
};

std::uint32_t* allocatePixels(std::size_t count, bool bringInPages)
{
    std::size_t const bytes = count * sizeof(std::uint32_t);
    if (bytes < mappedFrom)
        return static_cast<std::uint32_t*>(std::calloc(count, sizeof(std::uint32_t)));
    void* mapped = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        return nullptr;
    madvise(mapped, bytes, MADV_HUGEPAGE);
    if (bringInPages && bytes >= populatedFrom && bytes <= populatedUpTo)
        populate(mapped, bytes);
    return static_cast<std::uint32_t*>(mapped);
}

void freePixels(void* info)
{
    auto* buffer = static_cast<PixelBuffer*>(info);
    std::size_t const bytes = buffer->bytes;
    if (bytes < mappedFrom)
        std::free(buffer->pixels);
    else
        munmap(buffer->pixels, bytes);
    delete buffer;
}

}

namespace {
std::size_t allPictureBytes = 0;

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
    static std::size_t const budget = [] {
        long const pages = sysconf(_SC_PHYS_PAGES);
        long const pageSize = sysconf(_SC_PAGE_SIZE);
        if (pages <= 0 || pageSize <= 0)
            return SIZE_MAX;
        return static_cast<std::size_t>(pages) / 4 * 3 * static_cast<std::size_t>(pageSize);
    }();
    return budget;
}

void Picture::checkMemory(std::int32_t width, std::int32_t height, std::size_t workingBytes) const
{
    std::size_t const pixelBytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * sizeof(std::uint32_t);
    std::size_t const bytes = pixelBytes + std::min(workingBytes, memoryBudget());
    if (bytes > memoryBudget() || allPictureBytes - m_bytes > memoryBudget() - bytes)
        raiseNoMemory(width, height);
}

void Picture::claimMemory(std::int32_t width, std::int32_t height)
{
    releaseMemory();
    m_bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * sizeof(std::uint32_t);
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

void Picture::Constructor(std::int32_t width, std::int32_t height)
{
    if (width < 1 || width > MaximumSide || height < 1 || height > MaximumSide)
        Raise<OutOfBoundsException>("Width/Height needs to be in the range 1-32767");
    allocate(width, height, 0, true);
}

void Picture::allocate(std::int32_t width, std::int32_t height, std::size_t workingBytes, bool bringInPages)
{
    // Fresh zeroed memory is transparent black already.
    std::size_t const count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    checkMemory(width, height, workingBytes);
    noteWrite();
    std::uint32_t* pixels = allocatePixels(count, bringInPages);
    if (!pixels)
        raiseNoMemory(width, height);
    claimMemory(width, height);
    // The image frees the buffer when it goes; it never copies it, since
    // nothing shares it.
    m_image = std::make_unique<QImage>(reinterpret_cast<uchar*>(pixels), width, height,
        static_cast<qsizetype>(width) * 4, QImage::Format_ARGB32, freePixels, new PixelBuffer { pixels, count * sizeof(std::uint32_t) });
    m_pixels = pixels;
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
