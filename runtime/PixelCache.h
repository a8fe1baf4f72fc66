#pragma once

#include <chrono>
#include <cstddef>

// Keeps the memory of freed large pictures for the next pictures it can
// hold. Memory that the process touches for the first time is slow to come
// by (the system must find and clear every page, and under a virtual machine
// the host too); memory that it holds already is not. A drop and the
// computation after it make five pictures of the input's size and free as
// many, so the next road can run on memory that is warm.
//
// The cache is bounded: a few buffers, together at most the bytes that the
// caller allows. It lets everything go after a few seconds without use (on
// the GUI thread's event loop) and whenever the caller needs the room.
// While the event loop has nothing else to do, it clears what it keeps, a
// little at a time, so that a new picture need not wait for that.
class PixelCache {
public:
    struct Buffer {
        void* memory = nullptr;
        std::size_t bytes = 0;
        // How many of the first bytes are known to be zero.
        std::size_t clearBytes = 0;
    };
    static constexpr std::size_t MaximumBuffers = 4;

    // Keeps a buffer of whole pages (as mmap gives it) when it fits within
    // the bounds, `limitBytes` for all kept buffers together. False when it
    // is not kept: the caller frees it.
    static bool keep(Buffer buffer, std::size_t limitBytes);

    // The smallest kept buffer that holds `bytes`, with what lies beyond
    // them given back to the system; an empty one when none holds them.
    // Beyond its clearBytes, it still holds what the picture that had it
    // left there.
    static Buffer take(std::size_t bytes);

    // The bytes kept, and letting all of them go.
    static std::size_t heldBytes();
    static void release();

    // How long the cache keeps its buffers without use: a few seconds.
    static void setIdlePeriod(std::chrono::milliseconds period);
};
