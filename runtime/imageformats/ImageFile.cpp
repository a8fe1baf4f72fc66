#include "runtime/imageformats/ImageFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>

std::unique_ptr<ImageFile> ImageFile::open(String const& path)
{
    int const descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0)
        return nullptr;
    struct stat status {};
    if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(descriptor);
        return nullptr;
    }
    std::unique_ptr<ImageFile> file(new ImageFile(path, descriptor, static_cast<std::uint64_t>(status.st_size)));
    file->m_headSize = file->read(file->m_head, HeadSize);
    file->seek(0);
    return file;
}

ImageFile::ImageFile(String path, int descriptor, std::uint64_t size)
    : m_path(std::move(path))
    , m_descriptor(descriptor)
    , m_size(size)
{
}

ImageFile::~ImageFile()
{
    ::close(m_descriptor);
}

String ImageFile::extension() const
{
    std::size_t const slash = m_path.find_last_of('/');
    std::size_t const dot = m_path.find_last_of('.');
    if (dot == String::npos || (slash != String::npos && dot < slash))
        return {};
    String extension = m_path.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
        [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

std::size_t ImageFile::read(void* into, std::size_t count)
{
    std::size_t done = 0;
    auto* bytes = static_cast<unsigned char*>(into);
    while (done < count) {
        ssize_t const got = pread(m_descriptor, bytes + done, count - done, static_cast<off_t>(m_position));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += static_cast<std::size_t>(got);
        m_position += static_cast<std::uint64_t>(got);
    }
    return done;
}

bool ImageFile::seek(std::uint64_t position)
{
    if (position > m_size)
        return false;
    m_position = position;
    return true;
}
