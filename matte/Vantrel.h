#pragma once

#include "runtime/Picture.h"

// Lifts a subject off its background from two shots of it, one in front of
// white and one in front of black: the brightness difference of each pixel
// gives its opacity, and the black-ground colour divided by the opacity its
// colour.
class Vantrel : public RuntimeClass<Vantrel> {
public:
    static ClassRecord buildRecord();

    Ref<Picture> whitepicture;
    Ref<Picture> blackpicture;
    Ref<Picture> alphapicture;

    // With both inputs set, computes a new alphapicture as wide as the wider
    // input and as high as the higher one; otherwise does nothing.
    void Process();

private:
    void Exit_();
};
