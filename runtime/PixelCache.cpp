#include "runtime/PixelCache.h"

#include "runtime/BackgroundTask.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <mutex>

namespace {

using Clock = std::chrono::steady_clock;

// A buffer handed back is cut to the huge page that holds its last byte.
constexpr std::uintptr_t hugePage = std::uintptr_t { 2 } << 20;

// Cleared at a time while the event loop is idle: a few milliseconds' work,
// so that input and paints wait no longer than that.
constexpr std::size_t clearedAtATime = std::size_t { 4 } << 20;

struct Kept {
    std::mutex lock;
    std::array<PixelCache::Buffer, PixelCache::MaximumBuffers> buffers {};
    std::size_t count = 0;
    std::size_t bytes = 0;
    Clock::time_point lastUse;
    std::chrono::milliseconds idlePeriod { 10000 };
    bool clearing = false;
};

// Never destroyed: a picture may still be freed while the process ends.
Kept& kept()
{
    static Kept* const instance = new Kept;
    return *instance;
}

void removeAt(Kept& cache, std::size_t index)
{
    cache.bytes -= cache.buffers[index].bytes;
    cache.buffers[index] = cache.buffers[--cache.count];
    cache.buffers[cache.count] = {};
}

void unmapAll(Kept& cache)
{
    for (std::size_t i = 0; i < cache.count; ++i)
        munmap(cache.buffers[i].memory, cache.buffers[i].bytes);
    cache.buffers = {};
    cache.count = 0;
    cache.bytes = 0;
}

void releaseWhenIdle(std::chrono::milliseconds after);

void releaseIfIdle()
{
    Kept& cache = kept();
    std::chrono::milliseconds remaining { 0 };
    {
        std::lock_guard const guard(cache.lock);
        if (cache.count == 0)
            return;
        auto const idleFor = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - cache.lastUse);
        if (idleFor >= cache.idlePeriod)
            unmapAll(cache);
        else
            remaining = cache.idlePeriod - idleFor;
    }
    if (remaining.count() > 0)
        releaseWhenIdle(remaining);
}

// The check runs on the GUI thread's event loop; without one, the buffers
// stay until an allocation needs their room or the process ends.
void releaseWhenIdle(std::chrono::milliseconds after)
{
    QCoreApplication* const application = QCoreApplication::instance();
    if (!application || QThread::currentThread() != application->thread())
        return;
    try {
        QTimer::singleShot(after, application, &releaseIfIdle);
    } catch (...) {
        // No memory for the timer: the buffers wait for the next check.
    }
}


void clearWhenIdle(std::chrono::milliseconds after);

// Clears a share of the first kept buffer that is not clear yet; comes back
// while any is left. It waits while a long piece of work lets events run.
void clearAShare()
{
    Kept& cache = kept();
    bool more = false;
    {
        std::lock_guard const guard(cache.lock);
        cache.clearing = false;
        if (background_task::yielding()) {
            more = cache.count > 0;
        } else {
            for (std::size_t i = 0; i < cache.count; ++i) {
                PixelCache::Buffer& buffer = cache.buffers[i];
                if (buffer.clearBytes == buffer.bytes)
                    continue;
                std::size_t const share = std::min(clearedAtATime, buffer.bytes - buffer.clearBytes);
                std::memset(static_cast<char*>(buffer.memory) + buffer.clearBytes, 0, share);
                buffer.clearBytes += share;
                more = true;
                break;
            }
        }
    }
    if (more)
        clearWhenIdle(std::chrono::milliseconds(background_task::yielding() ? 20 : 0));
}

void clearWhenIdle(std::chrono::milliseconds after)
{
    QCoreApplication* const application = QCoreApplication::instance();
    if (!application || QThread::currentThread() != application->thread())
        return;
    {
        Kept& cache = kept();
        std::lock_guard const guard(cache.lock);
        if (cache.clearing)
            return;
        cache.clearing = true;
    }
    try {
        QTimer::singleShot(after, application, &clearAShare);
    } catch (...) {
        Kept& cache = kept();
        std::lock_guard const guard(cache.lock);
        cache.clearing = false;
    }
}

}

bool PixelCache::keep(Buffer buffer, std::size_t limitBytes)
{
    Kept& cache = kept();
    std::chrono::milliseconds period;
    {
        std::lock_guard const guard(cache.lock);
        if (cache.count == MaximumBuffers || buffer.bytes > limitBytes || cache.bytes > limitBytes - buffer.bytes)
            return false;
        buffer.clearBytes = 0;
        cache.buffers[cache.count++] = buffer;
        cache.bytes += buffer.bytes;
        cache.lastUse = Clock::now();
        period = cache.idlePeriod;
    }
    releaseWhenIdle(period);
    clearWhenIdle(std::chrono::milliseconds(0));
    return true;
}

PixelCache::Buffer PixelCache::take(std::size_t bytes)
{
    Kept& cache = kept();
    std::lock_guard const guard(cache.lock);
    std::size_t best = cache.count;
    for (std::size_t i = 0; i < cache.count; ++i) {
        if (cache.buffers[i].bytes >= bytes && (best == cache.count || cache.buffers[i].bytes < cache.buffers[best].bytes))
            best = i;
    }
    if (best == cache.count)
        return {};
    Buffer buffer = cache.buffers[best];
    removeAt(cache, best);
    cache.lastUse = Clock::now();
    auto const start = reinterpret_cast<std::uintptr_t>(buffer.memory);
    std::uintptr_t const needed = (start + bytes + hugePage - 1) & ~(hugePage - 1);
    std::uintptr_t const end = start + buffer.bytes;
    if (needed < end) {
        munmap(reinterpret_cast<void*>(needed), end - needed);
        buffer.bytes = needed - start;
        buffer.clearBytes = std::min(buffer.clearBytes, buffer.bytes);
    }
    return buffer;
}

std::size_t PixelCache::heldBytes()
{
    Kept& cache = kept();
    std::lock_guard const guard(cache.lock);
    return cache.bytes;
}

void PixelCache::release()
{
    Kept& cache = kept();
    std::lock_guard const guard(cache.lock);
    unmapAll(cache);
}

void PixelCache::setIdlePeriod(std::chrono::milliseconds period)
{
    Kept& cache = kept();
    std::lock_guard const guard(cache.lock);
    cache.idlePeriod = period;
}
