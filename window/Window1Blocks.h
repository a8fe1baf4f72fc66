#pragma once

#include <string_view>

// The settings of the main window and of its seven controls, as property
// blocks for SetProperties_ (runtime/PropertyBlock.h): the window's block is
// applied when the window is laid out, each control's block right after the
// control is made and added to the window. The blocks contain zero bytes, so
// each view carries its full length.
namespace Window1Blocks {
extern std::string_view const Window;
extern std::string_view const WhiteInCanvas;
extern std::string_view const BlackInCanvas;
extern std::string_view const AlphaCanvas;
extern std::string_view const Label1;
extern std::string_view const Label2;
extern std::string_view const PushButton1;
extern std::string_view const Label3;
}
