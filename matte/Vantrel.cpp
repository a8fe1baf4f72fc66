#include "matte/Vantrel.h"

#include "matte/MatteArithmetic.h"
#include "runtime/BackgroundTask.h"
#include "runtime/Graphics.h"
#include "runtime/Numbers.h"
#include "runtime/RGBSurface.h"

ClassRecord Vantrel::buildRecord()
{
    return ClassRecordBuilder<Vantrel>("Vantrel")
        .method("Process", "%%", { PublicScope }, &Vantrel::Process)
        .property("whitepicture", "o<Picture>", { PublicScope }, &Vantrel::whitepicture)
        .property("blackpicture", "o<Picture>", { PublicScope }, &Vantrel::blackpicture)
        .property("alphapicture", "o<Picture>", { PublicScope }, &Vantrel::alphapicture)
        .finaliser(&Vantrel::Exit_)
        .build();
}

namespace {
// Lays the input over a ground of one colour, at its own size, top-left.
void layOnGround(Picture& work, Color ground, Ref<Picture> const& input, std::int32_t width, std::int32_t height)
{
    work.Graphics()->ForeColor(ground);
    work.Graphics()->FillRect(0, 0, width, height);
    work.Graphics()->DrawPicture(input, 0, 0, Graphics::Omitted, Graphics::Omitted, 0, 0, Graphics::Omitted, Graphics::Omitted);
}
}

void Vantrel::Process()
{
    if (!whitepicture)
        return;
    if (!blackpicture)
        return;

    std::int32_t const width = RuntimeCvtReal64ToSInt32(Max(RuntimeCvtSInt32ToReal64(blackpicture->Width()), RuntimeCvtSInt32ToReal64(whitepicture->Width())));
    std::int32_t const height = RuntimeCvtReal64ToSInt32(Max(RuntimeCvtSInt32ToReal64(blackpicture->Height()), RuntimeCvtSInt32ToReal64(whitepicture->Height())));

    Ref<Picture> const white = Picture::create(width, height);
    Ref<Picture> const black = Picture::create(white->Width(), white->Height());
    Ref<Picture> const result = Picture::create(white->Width(), white->Height());

    Ref<RGBSurface> const whiteSurface = white->RGBSurface();
    Ref<RGBSurface> const blackSurface = black->RGBSurface();
    Ref<RGBSurface> const resultSurface = result->RGBSurface();

    layOnGround(*white, RGB(255, 255, 255, 0), whitepicture, white->Width(), white->Height());
    layOnGround(*black, RGB(0, 0, 0, 0), blackpicture, white->Width(), white->Height());
    result->Graphics()->ClearRect(0, 0, result->Width(), result->Height());

    std::int32_t const lastColumn = white->Width() - 1;
    std::int32_t const lastRow = white->Height() - 1;

    // Each result pixel is RGB of the matte values, looked up rather than
    // recomputed; the table holds exactly what the arithmetic gives.
    MatteTable const& table = MatteTable::instance();
    for (std::int32_t y = 0; y <= lastRow; ++y) {
        std::uint32_t const* blackRow = blackSurface->scanline(y);
        std::uint32_t const* whiteRow = whiteSurface->scanline(y);
        std::uint32_t* resultRow = resultSurface->scanline(y);
        for (std::int32_t x = 0; x <= lastColumn; ++x) {
            resultRow[x] = table.compose(blackRow[x], whiteRow[x]);
            RuntimeBackgroundTask();
        }
        RuntimeBackgroundTask();
    }

    alphapicture = result;
}

void Vantrel::Exit_()
{
    whitepicture.clear();
    blackpicture.clear();
    alphapicture.clear();
}
