#pragma once

#include "runtime/ClassRecord.h"

#include <vector>

class QMenuBar;
class QWidget;

// One item of a menu tree. A menu bar is the root item; its children are the
// menus, and theirs the items. The text "-" makes an item a separator line.
class MenuItem : public RuntimeClass<MenuItem> {
public:
    static ClassRecord buildRecord();
    // The class record's look-up and the search of the tree share a name;
    // every menu class declares both (through MenuClass below), so that
    // neither hides the other.
    using RuntimeClass<MenuItem>::Lookup_;

    // The argument-less constructor; subclasses replace it to build a tree.
    virtual void Constructor();

    String const& Name() const { return m_name; }
    void Name(String value) { m_name = std::move(value); }
    String const& Text() const { return m_text; }
    void Text(String value) { m_text = std::move(value); }
    String const& KeyboardShortcut() const { return m_shortcut; }
    void KeyboardShortcut(String value) { m_shortcut = std::move(value); }
    bool AutoEnable() const { return m_autoEnable; }
    void AutoEnable(bool value) { m_autoEnable = value; }

    // Adds the child after the existing ones; the item keeps it.
    void Append(Ref<MenuItem> const& child);
    // The direct child of that name, or Nil.
    Ref<MenuItem> Child(String const& name) const;
    // The item of that name at any depth below this one, or Nil.
    Ref<MenuItem> Lookup_(String const& name) const;
    std::int32_t Count() const { return static_cast<std::int32_t>(m_children.size()); }
    Ref<MenuItem> Item(std::int32_t index) const;

    bool isSeparator() const { return m_text == "-"; }

    // What choosing the item does. A plain item keeps the framework's
    // default: the Edit items act on the focused widget.
    virtual void Action();

private:
    String m_name;
    String m_text;
    String m_shortcut;
    bool m_autoEnable = false;
    std::vector<Ref<MenuItem>> m_children;
};

// The base of every class below MenuItem: its record's look-up beside the
// search of the tree.
template <class Self, class Base>
class MenuClass : public RuntimeClass<Self, Base> {
public:
    using RuntimeClass<Self, Base>::Lookup_;
    Ref<MenuItem> Lookup_(String const& name) const { return MenuItem::Lookup_(name); }
};

class MenuBar : public MenuClass<MenuBar, MenuItem> {
public:
    static ClassRecord buildRecord();
};

// The item that quits the application.
class QuitMenuItem : public MenuClass<QuitMenuItem, MenuItem> {
public:
    static ClassRecord buildRecord();
    void Action() override;
};

// The framework's quit action: ends the event loop.
void QuitMenuAction(MenuItem& item);

// The bar's menus as Qt menus, owned by the parent widget. Choosing an item
// runs its Action.
QMenuBar* RuntimeBuildQtMenuBar(Ref<MenuBar> const& bar, QWidget* parent);
