#include "runtime/imageformats/BmpReader.h"

#include "runtime/imageformats/ImageFile.h"

bool BmpReader::recognises(ImageFile const&)
{
    return false;
}

BmpReader::BmpReader(ImageFile& file)
    : m_file(file)
{
}

BmpReader::~BmpReader() = default;

bool BmpReader::readHeader(ImageHeader&)
{
    return false;
}

bool BmpReader::decode(Picture&)
{
    return false;
}
