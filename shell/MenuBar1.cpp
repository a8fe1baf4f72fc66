#include "shell/MenuBar1.h"

#include "runtime/Exceptions.h"

Ref<MenuBar1> MenuBar1::implicitInstance_;

ClassRecord MenuBar1::buildRecord()
{
    return ClassRecordBuilder<MenuBar1>("MenuBar1.MenuBar1", &MenuBar::Lookup_())
        .method("Constructor", "%%", { PublicScope }, &MenuBar1::Constructor)
        .method("Untitled0", "%%", { PublicScope }, &MenuBar1::Untitled0)
        .method("Untitled1", "%%", { PublicScope }, &MenuBar1::Untitled1)
        .build();
}

void MenuBar1::Constructor()
{
    Untitled0();
    Untitled1();
}

// Builds one item and appends it: a top menu to the bar, any other item to
// the menu of that name, looked up anew after the item's texts are set.
void MenuBar1::appendItem(ClassRecord const& record, String name, String text, String const* shortcut, String const* menu)
{
    Ref<MenuItem> item = RuntimeCheckCast<MenuItem>(RuntimeNewObject(record));
    item->Constructor();
    item->Name(std::move(name));
    item->AutoEnable(true);
    item->Text(std::move(text));
    if (shortcut)
        item->KeyboardShortcut(*shortcut);
    if (!menu) {
        Append(item);
        return;
    }
    Ref<MenuItem> parent = Child(*menu);
    parent->Append(item);
}

void MenuBar1::Untitled0()
{
    String const none, quit = "Cmd+Q", file = "FileMenu";
    appendItem(MenuItem::Lookup_(), "FileMenu", "&File", &none, nullptr);
    appendItem(QuitMenuItem::Lookup_(), "FileQuit", "&Quit", &quit, &file);
}

void MenuBar1::Untitled1()
{
    String const none, edit = "EditMenu";
    String const undo = "Cmd+Z", cut = "Cmd+X", copy = "Cmd+C", paste = "Cmd+V", all = "Cmd+A";
    ClassRecord const& item = MenuItem::Lookup_();
    appendItem(item, "EditMenu", "&Edit", &none, nullptr);
    appendItem(item, "EditUndo", "&Undo", &undo, &edit);
    appendItem(item, "", "-", nullptr, &edit);
    appendItem(item, "EditCut", "Cu&t", &cut, &edit);
    appendItem(item, "EditCopy", "&Copy", &copy, &edit);
    appendItem(item, "EditPaste", "&Paste", &paste, &edit);
    appendItem(item, "EditClear", "&Delete", &none, &edit);
    appendItem(item, "", "-", nullptr, &edit);
    appendItem(item, "EditSelectAll", "Select &All", &all, &edit);
}

Ref<MenuBar1> MenuBar1::MenuBar1_()
{
    if (!implicitInstance_) {
        Ref<MenuBar1> bar = RuntimeNewObject<MenuBar1>();
        bar->Constructor();
        implicitInstance_ = std::move(bar);
    }
    return implicitInstance_;
}

void MenuBar1::implicitInstance_Exit_()
{
    implicitInstance_.clear();
}
