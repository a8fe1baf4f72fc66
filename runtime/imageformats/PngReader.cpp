#include "runtime/imageformats/PngReader.h"

#include "runtime/imageformats/ImageFile.h"

bool PngReader::recognises(ImageFile const&)
{
    return false;
}

PngReader::PngReader(ImageFile& file)
    : m_file(file)
{
}

PngReader::~PngReader() = default;

bool PngReader::readHeader(ImageHeader&)
{
    return false;
}

bool PngReader::decode(Picture&)
{
    return false;
}
