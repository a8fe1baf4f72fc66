#include "runtime/imageformats/TargaReader.h"

#include "runtime/imageformats/ImageFile.h"

bool TargaReader::recognises(ImageFile const&)
{
    return false;
}

TargaReader::TargaReader(ImageFile& file)
    : m_file(file)
{
}

TargaReader::~TargaReader() = default;

bool TargaReader::readHeader(ImageHeader&)
{
    return false;
}

bool TargaReader::decode(Picture&)
{
    return false;
}
