#include "window/Window1Blocks.h"

// Each entry is the property's name, a blank and the value: Integers as 4
// bytes big-endian, Booleans as 1 byte, Colors as red, green, blue, Strings
// as a 4-byte byte count and the text. A literal ends after every hex escape,
// so that no following letter is taken as part of the escape.

namespace {

constexpr char window[] = //
    "Placement " "\x00\x00\x00\x00"
    "Width " "\x00\x00\x03\x12" // 786
    "Height " "\x00\x00\x00\xE4" // 228
    "MinWidth " "\x00\x00\x00\x40" // 64
    "MinHeight " "\x00\x00\x00\x40" // 64
    "MaxWidth " "\x00\x00\x7D\x00" // 32000
    "MaxHeight " "\x00\x00\x7D\x00" // 32000
    "Frame " "\x00\x00\x00\x00"
    "Composite " "\x00"
    "HasBackColor " "\x00"
    "BackColor " "\xFF\xFF\xFF" // white, although HasBackColor is false
    "Title " "\x00\x00\x00\x0E" "Vantrel Effect"
    "Visible " "\x01"
    "FullScreen " "\x00"
    "MenuBarVisible " "\x01"
    "CloseButton " "\x01"
    "Resizeable " "\x01"
    "LiveResize " "\x01"
    "MaximizeButton " "\x00"
    "MinimizeButton " "\x01"
    "MacProcID " "\x00\x00\x00\x00";

constexpr char whiteInCanvas[] = //
    "Name " "\x00\x00\x00\x0D" "WhiteInCanvas"
    "Index " "\x80\x00\x00\x00" // no control array
    "Left " "\x00\x00\x00\x14" // 20
    "Top " "\x00\x00\x00\x0E" // 14
    "Width " "\x00\x00\x00\xF0" // 240
    "Height " "\x00\x00\x00\xA0" // 160
    "LockLeft " "\x01"
    "LockTop " "\x01"
    "LockRight " "\x00"
    "LockBottom " "\x00"
    "TabPanelIndex " "\x00\x00\x00\x00"
    "TabIndex " "\x00\x00\x00\x00"
    "TabStop " "\x01"
    "Visible " "\x01"
    "HelpTag " "\x00\x00\x00\x00"
    "AutoDeactivate " "\x01"
    "Enabled " "\x01"
    "UseFocusRing " "\x01"
    "AcceptFocus " "\x00"
    "AcceptTabs " "\x00"
    "DoubleBuffer " "\x00"
    "EraseBackground " "\x01"
    "InitialParent " "\x00\x00\x00\x00";

constexpr char blackInCanvas[] = //
    "Name " "\x00\x00\x00\x0D" "BlackInCanvas"
    "Index " "\x80\x00\x00\x00" // no control array
    "Left " "\x00\x00\x01\x10" // 272
    "Top " "\x00\x00\x00\x0E" // 14
    "Width " "\x00\x00\x00\xF0" // 240
    "Height " "\x00\x00\x00\xA0" // 160
    "LockLeft " "\x01"
    "LockTop " "\x01"
    "LockRight " "\x00"
    "LockBottom " "\x00"
    "TabPanelIndex " "\x00\x00\x00\x00"
    "TabIndex " "\x00\x00\x00\x01"
    "TabStop " "\x01"
    "Visible " "\x01"
    "HelpTag " "\x00\x00\x00\x00"
    "AutoDeactivate " "\x01"
    "Enabled " "\x01"
    "UseFocusRing " "\x01"
    "AcceptFocus " "\x00"
    "AcceptTabs " "\x00"
    "DoubleBuffer " "\x00"
    "EraseBackground " "\x01"
    "InitialParent " "\x00\x00\x00\x00";

constexpr char alphaCanvas[] = //
    "Name " "\x00\x00\x00\x0B" "AlphaCanvas"
    "Index " "\x80\x00\x00\x00" // no control array
    "Left " "\x00\x00\x02\x0E" // 526
    "Top " "\x00\x00\x00\x0E" // 14
    "Width " "\x00\x00\x00\xF0" // 240
    "Height " "\x00\x00\x00\xA0" // 160
    "LockLeft " "\x01"
    "LockTop " "\x01"
    "LockRight " "\x00"
    "LockBottom " "\x00"
    "TabPanelIndex " "\x00\x00\x00\x00"
    "TabIndex " "\x00\x00\x00\x02"
    "TabStop " "\x01"
    "Visible " "\x01"
    "HelpTag " "\x00\x00\x00\x00"
    "AutoDeactivate " "\x01"
    "Enabled " "\x01"
    "UseFocusRing " "\x01"
    "AcceptFocus " "\x00"
    "AcceptTabs " "\x00"
    "DoubleBuffer " "\x00"
    "EraseBackground " "\x01"
    "InitialParent " "\x00\x00\x00\x00";

constexpr char label1[] = //
    "Name " "\x00\x00\x00\x06" "Label1"
    "Index " "\x80\x00\x00\x00" // no control array
    "Left " "\x00\x00\x00\x08" // 8
    "Top " "\x00\x00\x00\xCF" // 207
    "Width " "\x00\x00\x00\xF0" // 240
    "Height " "\x00\x00\x00\x14" // 20
    "LockLeft " "\x01"
    "LockTop " "\x01"
    "LockRight " "\x00"
    "LockBottom " "\x00"
    "TabPanelIndex " "\x00\x00\x00\x00"
    "TabIndex " "\x00\x00\x00\x03"
    "Text " "\x00\x00\x00\x20" "V 1.0 - made by the Vantrel team" // 32 bytes
    "TextAlign " "\x00\x00\x00\x00"
    "TextColor " "\x00\x00\x00" // black
    "Multiline " "\x00"
    "Enabled " "\x01"
    "Visible " "\x01"
    "Selectable " "\x00"
    "Transparent " "\x00"
    "HelpTag " "\x00\x00\x00\x00"
    "AutoDeactivate " "\x01"
    "TextFont " "\x00\x00\x00\x0B" "Smallsystem"
    "Bold " "\x00"
    "Italic " "\x00"
    "Underline " "\x00"
    "DataSource " "\x00\x00\x00\x00"
    "DataField " "\x00\x00\x00\x00"
    "InitialParent " "\x00\x00\x00\x00";

constexpr char label2[] = //
    "Name " "\x00\x00\x00\x06" "Label2"
    "Index " "\x80\x00\x00\x00" // no control array
    "Left " "\x00\x00\x01\x12" // 274
    "Top " "\x00\x00\x00\xB6" // 182
    "Width " "\x00\x00\x00\xF0" // 240
    "Height " "\x00\x00\x00\x14" // 20
    "LockLeft " "\x01"
    "LockTop " "\x01"
    "LockRight " "\x00"
    "LockBottom " "\x00"
    "TabPanelIndex " "\x00\x00\x00\x00"
    "TabIndex " "\x00\x00\x00\x04"
    "Text " "\x00\x00\x00\x17" "Drag black picture here"
    "TextAlign " "\x00\x00\x00\x01"
    "TextColor " "\x00\x00\x00" // black
    "Multiline " "\x00"
    "Enabled " "\x01"
    "Visible " "\x01"
    "Selectable " "\x00"
    "Transparent " "\x00"
    "HelpTag " "\x00\x00\x00\x00"
    "AutoDeactivate " "\x01"
    "TextFont " "\x00\x00\x00\x06" "System"
    "Bold " "\x00"
    "Italic " "\x00"
    "Underline " "\x00"
    "DataSource " "\x00\x00\x00\x00"
    "DataField " "\x00\x00\x00\x00"
    "InitialParent " "\x00\x00\x00\x00";

constexpr char pushButton1[] = //
    "Name " "\x00\x00\x00\x0B" "PushButton1"
    "Index " "\x80\x00\x00\x00" // no control array
    "Left " "\x00\x00\x02\x0E" // 526
    "Top " "\x00\x00\x00\xB3" // 179
    "Width " "\x00\x00\x00\xF0" // 240
    "Height " "\x00\x00\x00\x14" // 20
    "LockLeft " "\x01"
    "LockTop " "\x01"
    "LockRight " "\x00"
    "LockBottom " "\x00"
    "TabPanelIndex " "\x00\x00\x00\x00"
    "TabIndex " "\x00\x00\x00\x05"
    "TabStop " "\x01"
    "Caption " "\x00\x00\x00\x0B" "Save as PNG"
    "Default " "\x00"
    "Cancel " "\x00"
    "Enabled " "\x00" // enabled once there is a result to save
    "Visible " "\x01"
    "HelpTag " "\x00\x00\x00\x00"
    "AutoDeactivate " "\x01"
    "ButtonStyle " "\x00\x00\x00\x00"
    "TextFont " "\x00\x00\x00\x06" "System"
    "Bold " "\x00"
    "Italic " "\x00"
    "Underline " "\x00"
    "InitialParent " "\x00\x00\x00\x00";

constexpr char label3[] = //
    "Name " "\x00\x00\x00\x06" "Label3"
    "Index " "\x80\x00\x00\x00" // no control array
    "Left " "\x00\x00\x00\x14" // 20
    "Top " "\x00\x00\x00\xB3" // 179
    "Width " "\x00\x00\x00\xF0" // 240
    "Height " "\x00\x00\x00\x14" // 20
    "LockLeft " "\x01"
    "LockTop " "\x01"
    "LockRight " "\x00"
    "LockBottom " "\x00"
    "TabPanelIndex " "\x00\x00\x00\x00"
    "TabIndex " "\x00\x00\x00\x06"
    "Text " "\x00\x00\x00\x17" "Drag white picture here"
    "TextAlign " "\x00\x00\x00\x01"
    "TextColor " "\x00\x00\x00" // black
    "Multiline " "\x00"
    "Enabled " "\x01"
    "Visible " "\x01"
    "Selectable " "\x00"
    "Transparent " "\x00"
    "HelpTag " "\x00\x00\x00\x00"
    "AutoDeactivate " "\x01"
    "TextFont " "\x00\x00\x00\x06" "System"
    "Bold " "\x00"
    "Italic " "\x00"
    "Underline " "\x00"
    "DataSource " "\x00\x00\x00\x00"
    "DataField " "\x00\x00\x00\x00"
    "InitialParent " "\x00\x00\x00\x00";

// The literal's own terminator is not part of the block.
template <std::size_t N>
constexpr std::string_view blockOf(char const (&bytes)[N])
{
    return std::string_view(bytes, N - 1);
}

}

constinit std::string_view const Window1Blocks::Window = blockOf(window);
constinit std::string_view const Window1Blocks::WhiteInCanvas = blockOf(whiteInCanvas);
constinit std::string_view const Window1Blocks::BlackInCanvas = blockOf(blackInCanvas);
constinit std::string_view const Window1Blocks::AlphaCanvas = blockOf(alphaCanvas);
constinit std::string_view const Window1Blocks::Label1 = blockOf(label1);
constinit std::string_view const Window1Blocks::Label2 = blockOf(label2);
constinit std::string_view const Window1Blocks::PushButton1 = blockOf(pushButton1);
constinit std::string_view const Window1Blocks::Label3 = blockOf(label3);
