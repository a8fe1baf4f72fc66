#include "runtime/imageformats/TiffReader.h"

#include "runtime/imageformats/ImageFile.h"

bool TiffReader::recognises(ImageFile const&)
{
    return false;
}

TiffReader::TiffReader(ImageFile& file)
    : m_file(file)
{
}

TiffReader::~TiffReader() = default;

bool TiffReader::readHeader(ImageHeader&)
{
    return false;
}

bool TiffReader::decode(Picture&)
{
    return false;
}
