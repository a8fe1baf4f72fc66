#include "runtime/imageformats/PictReader.h"

#include "runtime/imageformats/ImageFile.h"

bool PictReader::recognises(ImageFile const&)
{
    return false;
}

PictReader::PictReader(ImageFile& file)
    : m_file(file)
{
}

PictReader::~PictReader() = default;

bool PictReader::readHeader(ImageHeader&)
{
    return false;
}

bool PictReader::decode(Picture&)
{
    return false;
}
