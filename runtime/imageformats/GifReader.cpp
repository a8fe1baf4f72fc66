#include "runtime/imageformats/GifReader.h"

#include "runtime/imageformats/ImageFile.h"

bool GifReader::recognises(ImageFile const&)
{
    return false;
}

GifReader::GifReader(ImageFile& file)
    : m_file(file)
{
}

GifReader::~GifReader() = default;

bool GifReader::readHeader(ImageHeader&)
{
    return false;
}

bool GifReader::decode(Picture&)
{
    return false;
}
