#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

class BandDeflater;
class Picture;
class PngRowFilter;

// Encodes a picture as an 8-bit RGBA PNG file, straight alpha, every pixel
// exact. Bands of rows are filtered and compressed on the machine's cores
// at once (see BandDeflater), each into IDAT chunks of its own; the caller
// takes the file's bytes piece by piece, in order, as they are ready.
//
// The picture must not change while the writer lives: the workers read it.
class PngWriter {
public:
    // Starts the work.
    explicit PngWriter(Picture const& picture);
    // Stops what work is left and waits for it.
    ~PngWriter();
    PngWriter(PngWriter const&) = delete;
    PngWriter& operator=(PngWriter const&) = delete;

    // The next piece of the file, once it is ready; empty once the file is
    // complete. What made the encoding fail (std::bad_alloc) is raised here.
    std::span<std::uint8_t const> next();

private:
    struct Band {
        std::int32_t first;
        std::int32_t end;
        std::vector<std::uint8_t> chunk; // length and type, data, and but for the last band the CRC
        std::uint32_t adler; // of the band's uncompressed data
        bool done = false;
    };

    void work();
    void encode(Band& band, PngRowFilter& filter, BandDeflater& deflater, std::vector<std::uint8_t>& scanlines) const;
    void finishStream(Band& last) const;
    void waitFor(Band const& band);

    Picture const& m_picture;
    std::vector<Band> m_bands;
    std::size_t m_handedOut = 0; // pieces: the header, one per band, the end
    std::vector<std::uint8_t> m_piece;

    std::atomic<std::size_t> m_nextBand { 0 };
    std::atomic<bool> m_stopping { false };
    std::mutex m_mutex;
    std::condition_variable m_bandDone;
    std::exception_ptr m_failure;
    std::vector<std::jthread> m_workers;
};
