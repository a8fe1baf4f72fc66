#include "runtime/imageformats/JpegReader.h"

#include "runtime/imageformats/ImageFile.h"

bool JpegReader::recognises(ImageFile const&)
{
    return false;
}

JpegReader::JpegReader(ImageFile& file)
    : m_file(file)
{
}

JpegReader::~JpegReader() = default;

bool JpegReader::readHeader(ImageHeader&)
{
    return false;
}

bool JpegReader::decode(Picture&)
{
    return false;
}
