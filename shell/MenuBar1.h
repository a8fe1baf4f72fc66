#pragma once

#include "runtime/Menu.h"

// The program's one menu bar: File with Quit, and Edit with Undo, Cut, Copy,
// Paste, Delete and Select All. One instance, built on first request.
class MenuBar1 : public MenuClass<MenuBar1, MenuBar> {
public:
    static ClassRecord buildRecord();

    // Builds the two menus; replaces the inherited constructor.
    void Constructor() override;
    virtual void Untitled0(); // the File menu
    virtual void Untitled1(); // the Edit menu

    // The shared bar, built on the first call.
    static Ref<MenuBar1> MenuBar1_();

    static Ref<MenuBar1> implicitInstance_;
    static void implicitInstance_Exit_();

private:
    void appendItem(ClassRecord const& record, String name, String text, String const* shortcut, String const* menu);
};
