#include "shell/Imagetypes.h"

#include "runtime/Exceptions.h"

namespace Imagetypes {

Ref<FileType> pPng;
Ref<FileType> pJpeg;
Ref<FileType> pImageTiff;
Ref<FileType> pImagePict;
Ref<FileType> pImageGif;
Ref<FileType> pImageXBmp;
Ref<FileType> pImageXTarga;

namespace {

struct Row {
    Ref<FileType>& global;
    char const* name;
    char const* extensions;
    char const* macType;
    char const* macCreator;
};

void define(Row const& row)
{
    row.global = RuntimeNewObject<FileType>();
    FileType& type = row.global.checked();
    type.Name(row.name);
    type.Extensions(row.extensions);
    type.MacType(row.macType);
    type.MacCreator(row.macCreator);
    (void)row.global.checked().Operator_Convert();
}

}

void Initialize_()
{
    Row const rows[] = {
        { pPng, "image/png", ".png", "PNGf", "ogle" },
        { pJpeg, "image/jpeg", ".jfif;.jpe;.jpeg;.jpg", "JPEG", "prvw" },
        { pImageTiff, "image/tiff", ".jfx;.tif;.tiff", "TIFF", "????" },
        { pImagePict, "image/pict", ".pict;.pic;.pct", "PICT", "ttxt" },
        { pImageGif, "image/gif", ".gif", "GIFf", "prvw" },
        { pImageXBmp, "image/x-bmp", ".bmp;.dib", "BMPf", "ogle" },
        { pImageXTarga, "image/x-targa", ".targa;.tga", "TPIC", "ogle" },
    };
    for (Row const& row : rows)
        define(row);
}

String All()
{
    return "image/png;image/jpeg;image/tiff;image/pict;image/gif;image/x-bmp;image/x-targa;";
}

void pPng_Exit_() { pPng.clear(); }
void pJpeg_Exit_() { pJpeg.clear(); }
void pImageTiff_Exit_() { pImageTiff.clear(); }
void pImagePict_Exit_() { pImagePict.clear(); }
void pImageGif_Exit_() { pImageGif.clear(); }
void pImageXBmp_Exit_() { pImageXBmp.clear(); }
void pImageXTarga_Exit_() { pImageXTarga.clear(); }

}
