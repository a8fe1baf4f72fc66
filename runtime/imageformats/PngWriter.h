#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

class Picture;
class Workers;

// Encodes a picture as an 8-bit RGBA PNG file, straight alpha, every pixel
// exact. Bands of rows are filtered and compressed on the machine's cores
// at once (see BandDeflater), each into IDAT chunks of its own; the caller
// takes the file's bytes piece by piece, in order, as they are ready. Only a
// few bands a worker run ahead of the one the caller takes: a caller that
// writes slowly holds the workers back, so the compressed file never piles
// up in memory. Where no worker thread can be had, the caller's thread
// encodes each band as it takes it.
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

    // The compressed bytes that the writer holds for pieces not yet taken,
    // and the one taken last. Asked by the caller's thread.
    std::size_t heldBytes();

private:
    struct Band {
        std::int32_t first;
        std::int32_t end;
        std::vector<std::uint8_t> chunk; // length and type, data, and but for the last band the CRC
        std::uint32_t adler = 0; // of the band's uncompressed data
        bool done = false;
    };
    struct Encoder;

    void work();
    bool takeBand(std::size_t& index);
    void encode(Band& band, Encoder& encoder) const;
    void finishStream(Band& last) const;
    void waitFor(std::size_t index);
    void release(std::size_t index);

    Picture const& m_picture;
    std::vector<Band> m_bands;
    std::size_t m_handedOut = 0; // pieces: the header, one per band, the end
    std::vector<std::uint8_t> m_piece;
    std::size_t m_bandsAhead = 0; // bands that may be under way at once

    std::mutex m_mutex;
    std::condition_variable m_bandDone;
    std::condition_variable m_room;
    std::size_t m_nextBand = 0;
    std::size_t m_released = 0; // bands written and let go
    bool m_stopping = false;
    std::exception_ptr m_failure;
    std::unique_ptr<Encoder> m_ownEncoder; // the caller's, when there are no workers
    std::unique_ptr<Workers> m_workers;
};
