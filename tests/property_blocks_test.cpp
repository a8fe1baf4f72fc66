#include "runtime/PropertyBlock.h"

#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "support/Raises.h"
#include "window/Window1Blocks.h"

#include <gtest/gtest.h>

#include <limits>
#include <map>
#include <sstream>

namespace {

using namespace std::string_literals; // "...\x00..."s keeps the zero bytes

// The type of every property the window's blocks name, written out here
// rather than taken from the code's classes.
std::map<String, String, std::less<>> const blockTypes {
    { "Placement", "i4" }, { "Width", "i4" }, { "Height", "i4" }, { "MinWidth", "i4" }, { "MinHeight", "i4" },
    { "MaxWidth", "i4" }, { "MaxHeight", "i4" }, { "Frame", "i4" }, { "Composite", "b" }, { "HasBackColor", "b" },
    { "BackColor", "c" }, { "Title", "s" }, { "Visible", "b" }, { "FullScreen", "b" }, { "MenuBarVisible", "b" },
    { "CloseButton", "b" }, { "Resizeable", "b" }, { "LiveResize", "b" }, { "MaximizeButton", "b" },
    { "MinimizeButton", "b" }, { "MacProcID", "i4" },
    { "Name", "s" }, { "Index", "i4" }, { "LockLeft", "b" }, { "LockTop", "b" }, { "LockRight", "b" },
    { "LockBottom", "b" }, { "TabPanelIndex", "i4" }, { "HelpTag", "s" }, { "AutoDeactivate", "b" },
    { "InitialParent", "s" },
    { "Left", "i4" }, { "Top", "i4" }, { "TabIndex", "i4" }, { "TextAlign", "i4" }, { "ButtonStyle", "i4" },
    { "Text", "s" }, { "TextFont", "s" }, { "Caption", "s" }, { "DataSource", "s" }, { "DataField", "s" },
    { "TextColor", "c" },
    { "TabStop", "b" }, { "Enabled", "b" }, { "UseFocusRing", "b" }, { "AcceptFocus", "b" }, { "AcceptTabs", "b" },
    { "DoubleBuffer", "b" }, { "EraseBackground", "b" }, { "Multiline", "b" }, { "Selectable", "b" },
    { "Transparent", "b" }, { "Bold", "b" }, { "Italic", "b" }, { "Underline", "b" }, { "Default", "b" },
    { "Cancel", "b" },
};

String typeOf(std::string_view name)
{
    auto found = blockTypes.find(name);
    return found == blockTypes.end() ? String() : found->second;
}

// Expected entries, spelled as the tables give them.
struct Entry {
    String name;
    Value value;
};
Entry I(String name, std::int32_t value) { return { std::move(name), Value(value) }; }
Entry B(String name, bool value) { return { std::move(name), Value(value) }; }
Entry C(String name, std::int32_t red, std::int32_t green, std::int32_t blue) { return { std::move(name), Value(RGB(red, green, blue, 0)) }; }
Entry S(String name, String value) { return { std::move(name), Value(std::move(value)) }; }

String describe(Value const& value)
{
    std::ostringstream text;
    if (auto const* b = std::get_if<bool>(&value))
        text << "Boolean " << (*b ? "true" : "false");
    else if (auto const* i = std::get_if<std::int32_t>(&value))
        text << "Integer " << *i;
    else if (auto const* c = std::get_if<Color>(&value))
        text << "Color 0x" << std::hex << c->value;
    else if (auto const* s = std::get_if<String>(&value))
        text << "String \"" << *s << "\"";
    else
        text << "another kind of value";
    return text.str();
}

std::vector<Entry> const windowEntries {
    I("Placement", 0), I("Width", 786), I("Height", 228), I("MinWidth", 64), I("MinHeight", 64),
    I("MaxWidth", 32000), I("MaxHeight", 32000), I("Frame", 0), B("Composite", false), B("HasBackColor", false),
    C("BackColor", 255, 255, 255), S("Title", "Vantrel Effect"), B("Visible", true), B("FullScreen", false),
    B("MenuBarVisible", true), B("CloseButton", true), B("Resizeable", true), B("LiveResize", true),
    B("MaximizeButton", false), B("MinimizeButton", true), I("MacProcID", 0),
};

// A row of the controls table.
struct Control {
    String name;
    std::int32_t left, top, width, height, tabIndex;
};
Control const whiteInCanvas { "WhiteInCanvas", 20, 14, 240, 160, 0 };
Control const blackInCanvas { "BlackInCanvas", 272, 14, 240, 160, 1 };
Control const alphaCanvas { "AlphaCanvas", 526, 14, 240, 160, 2 };
Control const label1 { "Label1", 8, 207, 240, 20, 3 };
Control const label2 { "Label2", 274, 182, 240, 20, 4 };
Control const pushButton1 { "PushButton1", 526, 179, 240, 20, 5 };
Control const label3 { "Label3", 20, 179, 240, 20, 6 };

// The entries every control block shares, with the same value in each.
Entry shared(Control const& control, String const& name)
{
    std::vector<Entry> const table {
        S("Name", control.name), I("Index", std::numeric_limits<std::int32_t>::min()), B("LockLeft", true),
        B("LockTop", true), B("LockRight", false), B("LockBottom", false), I("TabPanelIndex", 0),
        B("Visible", true), S("HelpTag", ""), B("AutoDeactivate", true), S("InitialParent", ""),
    };
    for (Entry const& entry : table) {
        if (entry.name == name)
            return entry;
    }
    ADD_FAILURE() << name << " is not a shared entry";
    return {};
}

// Name, Index, Left, Top, Width, Height, the four locks, TabPanelIndex, TabIndex.
std::vector<Entry> placement(Control const& c)
{
    return { shared(c, "Name"), shared(c, "Index"), I("Left", c.left), I("Top", c.top), I("Width", c.width),
        I("Height", c.height), shared(c, "LockLeft"), shared(c, "LockTop"), shared(c, "LockRight"),
        shared(c, "LockBottom"), shared(c, "TabPanelIndex"), I("TabIndex", c.tabIndex) };
}

std::vector<Entry> canvasEntries(Control const& c)
{
    std::vector<Entry> entries = placement(c);
    entries.insert(entries.end(), {
        B("TabStop", true), shared(c, "Visible"), shared(c, "HelpTag"), shared(c, "AutoDeactivate"),
        B("Enabled", true), B("UseFocusRing", true), B("AcceptFocus", false), B("AcceptTabs", false),
        B("DoubleBuffer", false), B("EraseBackground", true), shared(c, "InitialParent"),
    });
    return entries;
}

// A row of the labels table.
std::vector<Entry> labelEntries(Control const& c, String text, std::int32_t textAlign, String textFont)
{
    std::vector<Entry> entries = placement(c);
    entries.insert(entries.end(), {
        S("Text", std::move(text)), I("TextAlign", textAlign), C("TextColor", 0, 0, 0), B("Multiline", false),
        B("Enabled", true), shared(c, "Visible"), B("Selectable", false), B("Transparent", false),
        shared(c, "HelpTag"), shared(c, "AutoDeactivate"), S("TextFont", std::move(textFont)), B("Bold", false),
        B("Italic", false), B("Underline", false), S("DataSource", ""), S("DataField", ""),
        shared(c, "InitialParent"),
    });
    return entries;
}

std::vector<Entry> buttonEntries(Control const& c)
{
    std::vector<Entry> entries = placement(c);
    entries.insert(entries.end(), {
        B("TabStop", true), S("Caption", "Save as PNG"), B("Default", false), B("Cancel", false),
        B("Enabled", false), shared(c, "Visible"), shared(c, "HelpTag"), shared(c, "AutoDeactivate"),
        I("ButtonStyle", 0), S("TextFont", "System"), B("Bold", false), B("Italic", false), B("Underline", false),
        shared(c, "InitialParent"),
    });
    return entries;
}

TEST(PropertyBlocks, EachWindowBlockReadsEntryByEntryToItsLastByte)
{
    struct Case {
        char const* block;
        std::string_view bytes;
        std::vector<Entry> expected;
        std::size_t entryCount;
    };
    Case const cases[] {
        { "Window", Window1Blocks::Window, windowEntries, 21 },
        { "WhiteInCanvas", Window1Blocks::WhiteInCanvas, canvasEntries(whiteInCanvas), 23 },
        { "BlackInCanvas", Window1Blocks::BlackInCanvas, canvasEntries(blackInCanvas), 23 },
        { "AlphaCanvas", Window1Blocks::AlphaCanvas, canvasEntries(alphaCanvas), 23 },
        { "Label1", Window1Blocks::Label1, labelEntries(label1, "V 1.0 - made by the Vantrel team", 0, "Smallsystem"), 29 },
        { "Label2", Window1Blocks::Label2, labelEntries(label2, "Drag black picture here", 1, "System"), 29 },
        { "PushButton1", Window1Blocks::PushButton1, buttonEntries(pushButton1), 26 },
        { "Label3", Window1Blocks::Label3, labelEntries(label3, "Drag white picture here", 1, "System"), 29 },
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.block);
        ASSERT_EQ(c.expected.size(), c.entryCount);
        // A read that succeeds has consumed the block exactly: the reader
        // raises on any byte left over or missing.
        std::vector<PropertyValue> read;
        Ref<RuntimeException> const raised = raisedBy([&] { read = readPropertyBlock(c.bytes, typeOf); });
        ASSERT_TRUE(raised.isNil()) << raised->Message;
        ASSERT_EQ(read.size(), c.expected.size());
        for (std::size_t i = 0; i < read.size(); ++i) {
            SCOPED_TRACE("entry " + std::to_string(i + 1));
            EXPECT_EQ(read[i].name, c.expected[i].name);
            EXPECT_TRUE(read[i].value == c.expected[i].value)
                << describe(read[i].value) << " instead of " << describe(c.expected[i].value);
        }
    }
}

TEST(PropertyBlocks, FaultyBlocksRaiseAndSayWhere)
{
    auto typeWithPicture = [](std::string_view name) { return name == "picture" ? String("o<Picture>") : typeOf(name); };
    struct Case {
        char const* fault;
        String block;
        String message;
    };
    Case const cases[] {
        { "unknown name", "Width \x00\x00\x00\x01"s "Foo \x01"s,
            "The property block names \"Foo\", which the object does not have" },
        { "cut in a name", "Visible \x01"s "Wid"s, "The property block ends inside the entry for \"Wid\"" },
        { "cut before a value", "Visible "s, "The property block ends inside the entry for \"Visible\"" },
        { "cut in an Integer", "Width \x00\x00\x03"s, "The property block ends inside the entry for \"Width\"" },
        { "cut in a Color", "TextColor \x00\x00"s, "The property block ends inside the entry for \"TextColor\"" },
        { "cut in a String's count", "Text \x00\x00"s, "The property block ends inside the entry for \"Text\"" },
        { "cut in a String's text", "Text \x00\x00\x00\x05"s "abcd"s, "The property block ends inside the entry for \"Text\"" },
        { "String count beyond any block", "Text \xFF\xFF\xFF\xFF"s "abcd"s, "The property block ends inside the entry for \"Text\"" },
        { "Boolean byte 2", "Visible \x02"s, "The property block gives \"Visible\" the byte 2, which is neither 0 (false) nor 1 (true)" },
        { "Boolean byte 255", "Visible \xFF"s, "The property block gives \"Visible\" the byte 255, which is neither 0 (false) nor 1 (true)" },
        { "name without its blank", "Width\x00\x00\x00\x01"s, "The property block has a malformed property name at byte 0" },
        { "name with a digit", "Visible \x01"s "Label1 \x01"s, "The property block has a malformed property name at byte 9" },
        { "blank before a name", " Visible \x01"s, "The property block has a malformed property name at byte 0" },
        { "byte after the last entry", "Visible \x01"s "\x00"s, "The property block has a malformed property name at byte 9" },
        { "type a block cannot carry", "picture \x00"s, "The property \"picture\" has the type o<Picture>, which a property block cannot carry" },
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.fault);
        EXPECT_TRUE(raises<RuntimeException>([&] { readPropertyBlock(c.block, typeWithPicture); }, c.message));
    }
    EXPECT_TRUE(readPropertyBlock("", typeOf).empty());
}

// A small class with one property of each type a block carries.
class Gadget : public RuntimeClass<Gadget> {
public:
    static ClassRecord buildRecord()
    {
        return ClassRecordBuilder<Gadget>("Gadget")
            .property("Count", "i4", { PublicScope }, &Gadget::count)
            .property("Shown", "b", { PublicScope }, &Gadget::shown)
            .property("Tint", "c", { PublicScope }, &Gadget::tint)
            .property("Caption", "s", { PublicScope }, &Gadget::caption)
            .build();
    }
    std::int32_t count = 0;
    bool shown = false;
    Color tint;
    String caption;
};

String const gadgetBlock = "Count \xFF\xFF\xFF\xFE"s "Shown \x01"s "Tint \x10\x20\x30"s "Caption \x00\x00\x00\x03"s "h\x00i"s;

TEST(PropertyBlocks, SetPropertiesSetsEachNamedProperty)
{
    Ref<Gadget> gadget = RuntimeNewObject<Gadget>();
    SetProperties_(gadget, gadgetBlock + "Count \x00\x00\x01\x00"s);
    EXPECT_EQ(gadget->count, 256); // the later entry wins
    EXPECT_TRUE(gadget->shown);
    EXPECT_EQ(gadget->tint, RGB(0x10, 0x20, 0x30, 0));
    EXPECT_EQ(gadget->caption, "h\0i"s);

    SetProperties_(gadget, "Count \xFF\xFF\xFF\xFE"s);
    EXPECT_EQ(gadget->count, -2);
}

TEST(PropertyBlocks, SetPropertiesAppliesNothingOfAFaultyBlock)
{
    struct Case {
        char const* fault;
        String lastEntry;
        String message;
    };
    Case const cases[] {
        { "unknown name", "Width \x00\x00\x00\x01"s, "The property block names \"Width\", which a Gadget does not have" },
        { "cut entry", "Shown "s, "The property block ends inside the entry for \"Shown\"" },
        { "bad Boolean", "Shown \x07"s, "The property block gives \"Shown\" the byte 7, which is neither 0 (false) nor 1 (true)" },
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.fault);
        Ref<Gadget> gadget = RuntimeNewObject<Gadget>();
        EXPECT_TRUE(raises<RuntimeException>([&] { SetProperties_(gadget, gadgetBlock + c.lastEntry); }, c.message));
        EXPECT_EQ(gadget->count, 0);
        EXPECT_FALSE(gadget->shown);
        EXPECT_EQ(gadget->tint, Color {});
        EXPECT_EQ(gadget->caption, "");
    }
    EXPECT_TRUE(raises<NilObjectException>([] { SetProperties_(nullptr, gadgetBlock); }, ""));
}

}
