#pragma once

#include "runtime/imageformats/ImageReader.h"

#include <cstddef>

// The orientation tag of an EXIF block (the APP1 segment of a JPEG file,
// from "Exif\0\0" on), or AsStored when there is none or it is damaged.
Orientation exifOrientation(unsigned char const* data, std::size_t size);
