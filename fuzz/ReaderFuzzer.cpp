// A libFuzzer target for one picture reader, named by VANTREL_FUZZ_FORMAT
// ("png", "jpeg", ...): each input is written to a file of the format's
// extension and decoded with that reader alone. A reader fault shows as a
// sanitizer report or an uncaught exception; an input that leaves a file in
// the temporary folder, or that is taken for a lack of memory, aborts.

#include "fuzz/FixedReader.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

fixed_reader::Format const* format = nullptr;
std::string inputFolder;
std::string temporaryFolder;
std::string inputPath;

bool folderIsEmpty(std::string const& path)
{
    DIR* const folder = opendir(path.c_str());
    if (!folder)
        return false;
    bool empty = true;
    while (dirent const* entry = readdir(folder)) {
        std::string_view const name = entry->d_name;
        if (name != "." && name != "..")
            empty = false;
    }
    closedir(folder);
    return empty;
}

void writeInput(std::uint8_t const* data, std::size_t size)
{
    int const descriptor = open(inputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (descriptor < 0)
        std::abort();
    std::size_t written = 0;
    while (written < size) {
        ssize_t const count = write(descriptor, data + written, size - written);
        if (count <= 0)
            std::abort();
        written += static_cast<std::size_t>(count);
    }
    close(descriptor);
}

void removeFolders()
{
    unlink(inputPath.c_str());
    rmdir(temporaryFolder.c_str());
    rmdir(inputFolder.c_str());
}

}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    format = fixed_reader::formatNamed(VANTREL_FUZZ_FORMAT);
    if (!format)
        std::abort();
    // A folder of this process's own for the input, and an empty one inside
    // it that the libraries are told to take as their temporary folder.
    char const* const base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/vantrel-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data()))
        std::abort();
    inputFolder = pattern;
    inputPath = inputFolder + "/input." + std::string(format->extension);
    temporaryFolder = inputFolder + "/temporary";
    if (mkdir(temporaryFolder.c_str(), 0700) != 0)
        std::abort();
    std::atexit(removeFolders);
    setenv("TMPDIR", temporaryFolder.c_str(), 1);
    setenv("MAGICK_TMPDIR", temporaryFolder.c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    writeInput(data, size);
    // The targets have memory to spare for every picture they decode, so a
    // lack of memory here is a damaged file taken for one: the user would
    // get a message about memory where the file should be passed over.
    if (fixed_reader::decode(*format, inputPath) == fixed_reader::Outcome::OutOfMemory) {
        std::fprintf(stderr, "The reader took a damaged file of %zu bytes for a lack of memory\n", size);
        std::abort();
    }
    if (!folderIsEmpty(temporaryFolder)) {
        std::fprintf(stderr, "The reader left a file in %s\n", temporaryFolder.c_str());
        std::abort();
    }
    return 0;
}
