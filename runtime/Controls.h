#pragma once

#include "runtime/ClassRecord.h"
#include "runtime/Color.h"
#include "runtime/Delegate.h"

#include <map>
#include <span>

class QWidget;
class Window;

// Calls a delegate with an event's arguments, the control first.
using EventStub = void (*)(Delegate const& delegate, std::span<Value const> arguments);

// The stubs of the events the program binds, one for each signature.
void OpenEventStub(Delegate const& delegate, std::span<Value const> arguments);         // ( Control )
void PaintEventStub(Delegate const& delegate, std::span<Value const> arguments);        // ( Canvas, Graphics )
void DropObjectEventStub(Delegate const& delegate, std::span<Value const> arguments);   // ( Canvas, DragItem, Int32 )
void ActionEventStub(Delegate const& delegate, std::span<Value const> arguments);       // ( PushButton )

class Control : public RuntimeClass<Control> {
public:
    static ClassRecord buildRecord();

    // Binds the event of that index in the control's event table.
    void addEventHandler(int index, EventStub stub, Ref<Delegate> delegate);
    bool hasEventHandler(int index) const { return m_handlers.contains(index); }
    // Raises the event by name: the bound handler, if any, runs guarded, so
    // an exception it raises is reported and the event loop goes on.
    bool raiseEvent(std::string_view event, std::vector<Value> arguments, bool guarded = true);

    // The name the control is known by on its window, if it has one.
    virtual String controlName() const { return {}; }

private:
    struct Binding {
        EventStub stub;
        Ref<Delegate> delegate;
    };
    std::map<int, Binding> m_handlers;
};

void RuntimeAddEventHandler(Ref<Control> const& control, int index, EventStub stub, Ref<Delegate> delegate);

// A control with a place and a size on its window, shown by a Qt widget.
class RectControl : public RuntimeClass<RectControl, Control> {
public:
    RectControl();
    ~RectControl() override;
    static ClassRecord buildRecord();

    // Initialises the control: makes its widget with the defaults.
    void Constructor();

    String const& Name() const { return m_name; }
    String controlName() const override { return m_name; }
    std::int32_t Left() const { return m_left; }
    std::int32_t Top() const { return m_top; }
    std::int32_t Width() const { return m_width; }
    std::int32_t Height() const { return m_height; }
    bool Enabled() const { return m_enabled; }
    void Enabled(bool enabled);
    bool Visible() const { return m_visible; }
    bool LockLeft() const { return m_lockLeft; }
    bool LockTop() const { return m_lockTop; }
    bool LockRight() const { return m_lockRight; }
    bool LockBottom() const { return m_lockBottom; }
    std::int32_t TabIndex() const { return m_tabIndex; }

    // Asks for the control to be painted again.
    void Refresh(bool eraseBackground = true);

    // The framework's side.
    QWidget* widget() const { return m_widget; }
    void attach(Window& window, QWidget* parent);
    // Keeps the locked distances to the window's edges when it is resized.
    void followResize(std::int32_t oldWidth, std::int32_t oldHeight, std::int32_t newWidth, std::int32_t newHeight);

protected:
    virtual QWidget* makeWidget() = 0;
    void applyGeometry();
    void applyEnabled();
    void applyVisible();
    void applyHelpTag();
    void applyTabStop();
    void noEffect() { }

    QWidget* m_widget = nullptr;
    String m_name;
    std::int32_t m_index = -2147483647 - 1;
    std::int32_t m_left = 0;
    std::int32_t m_top = 0;
    std::int32_t m_width = 100;
    std::int32_t m_height = 100;
    bool m_lockLeft = true;
    bool m_lockTop = true;
    bool m_lockRight = false;
    bool m_lockBottom = false;
    std::int32_t m_tabPanelIndex = 0;
    std::int32_t m_tabIndex = 0;
    bool m_tabStop = true;
    bool m_visible = true;
    String m_helpTag;
    bool m_autoDeactivate = true;
    bool m_enabled = true;
    String m_initialParent;
};

// A control the program paints, and that can take drops.
class Canvas : public RuntimeClass<Canvas, RectControl> {
public:
    static ClassRecord buildRecord();

    // From now on, drops of picture data arrive as DropObject.
    void AcceptPictureDrop();
    // From now on, drops of files of the named registered types (a list of
    // names, each followed by ";") arrive as DropObject.
    void AcceptFileDrop(String const& filter);

    bool acceptsPictureDrops() const { return m_acceptPictures; }
    String const& fileDropFilter() const { return m_fileFilter; }

protected:
    QWidget* makeWidget() override;

private:
    bool m_useFocusRing = true;
    bool m_acceptFocus = false;
    bool m_acceptTabs = false;
    bool m_doubleBuffer = false;
    bool m_eraseBackground = true;
    bool m_acceptPictures = false;
    String m_fileFilter;
};

// The unit of a control's font size; 0 is the platform's default (points).
using FontUnits = std::int32_t;

// Text shown on the window.
class Label : public RuntimeClass<Label, RectControl> {
public:
    static ClassRecord buildRecord();

    void TextUnit(FontUnits unit);
    String const& Text() const { return m_text; }
    std::int32_t TextAlign() const { return m_textAlign; }
    String const& TextFont() const { return m_textFont; }

protected:
    QWidget* makeWidget() override;

private:
    void applyText();
    void applyLook();
    String m_text;
    std::int32_t m_textAlign = 0;
    Color m_textColor = RGB(0, 0, 0);
    bool m_multiline = false;
    bool m_selectable = false;
    bool m_transparent = false;
    String m_textFont = "System";
    bool m_bold = false;
    bool m_italic = false;
    bool m_underline = false;
    String m_dataSource;
    String m_dataField;
    FontUnits m_textUnit = 0;
};

// A button; a click raises Action.
class PushButton : public RuntimeClass<PushButton, RectControl> {
public:
    static ClassRecord buildRecord();

    void TextUnit(FontUnits unit);
    String const& Caption() const { return m_caption; }

protected:
    QWidget* makeWidget() override;

private:
    void applyCaption();
    void applyLook();
    void applyDefault();
    String m_caption;
    bool m_default = false;
    bool m_cancel = false;
    std::int32_t m_buttonStyle = 0;
    String m_textFont = "System";
    bool m_bold = false;
    bool m_italic = false;
    bool m_underline = false;
    FontUnits m_textUnit = 0;
};
