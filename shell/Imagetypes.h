#pragma once

#include "runtime/FileType.h"

// The seven picture file types the program accepts, registered at start-up
// and kept registered for the run.
namespace Imagetypes {

extern Ref<FileType> pPng;
extern Ref<FileType> pJpeg;
extern Ref<FileType> pImageTiff;
extern Ref<FileType> pImagePict;
extern Ref<FileType> pImageGif;
extern Ref<FileType> pImageXBmp;
extern Ref<FileType> pImageXTarga;

// Makes, fills and registers the seven types, PNG first, Targa last.
void Initialize_();

// The names of the seven types, each followed by ";": the drop filter.
String All();

// The releases at shut-down, one for each global.
void pPng_Exit_();
void pJpeg_Exit_();
void pImageTiff_Exit_();
void pImagePict_Exit_();
void pImageGif_Exit_();
void pImageXBmp_Exit_();
void pImageXTarga_Exit_();

}
