#pragma once

#include "runtime/Object.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

// A picture file opened for reading, through a descriptor of its own: read
// in order, or from any place. Only plain files open: reading a pipe or a
// device could block for ever. The first bytes are read at once, for the
// readers' signature tests.
class ImageFile {
public:
    static std::unique_ptr<ImageFile> open(String const& path);
    ~ImageFile();
    ImageFile(ImageFile const&) = delete;
    ImageFile& operator=(ImageFile const&) = delete;

    String const& path() const { return m_path; }
    // The name's extension in lower case, without the dot.
    String extension() const;
    std::uint64_t size() const { return m_size; }

    // Up to the first 4 KiB of the file.
    std::span<unsigned char const> head() const { return { m_head, m_headSize }; }

    // Reads up to count bytes from the position on and moves past them; gives
    // how many it read (fewer only at the end of the file or on an error).
    std::size_t read(void* into, std::size_t count);
    // Reads exactly count bytes, or gives false.
    bool readExactly(void* into, std::size_t count) { return read(into, count) == count; }
    // Moves the position; false beyond the end.
    bool seek(std::uint64_t position);
    std::uint64_t position() const { return m_position; }
    std::uint64_t remaining() const { return m_size - m_position; }

private:
    ImageFile(String path, int descriptor, std::uint64_t size);

    static constexpr std::size_t HeadSize = 4096;
    String m_path;
    int m_descriptor;
    std::uint64_t m_size;
    std::uint64_t m_position = 0;
    unsigned char m_head[HeadSize];
    std::size_t m_headSize = 0;
};
