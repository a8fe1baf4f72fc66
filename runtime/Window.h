#pragma once

#include "runtime/ClassRecord.h"
#include "runtime/Color.h"
#include "runtime/Menu.h"

#include <memory>
#include <vector>

class QMainWindow;
class QWidget;
class RectControl;
class WindowWidget;

// A top-level window: a Qt main window whose content area holds the
// controls, and whose menu bar is built from the installed MenuBar.
class Window : public RuntimeClass<Window> {
public:
    Window();
    ~Window() override;
    static ClassRecord buildRecord();

    // Has the framework build the window, then marks its contents unchanged.
    void Constructor();

    Ref<::MenuBar> const& MenuBar() const { return m_menuBar; }
    void MenuBar(Ref<::MenuBar> bar);
    bool ContentsChanged() const { return m_contentsChanged; }
    void ContentsChanged(bool changed) { m_contentsChanged = changed; }

    // A new object of the class, for the window's own use; no constructor runs.
    Ref<Object> New_(ClassRecord const& record);
    template <class T>
    Ref<T> New_() { return Ref<T>(static_cast<T*>(New_(T::Lookup_()).get())); }

    // The control belongs to the window from now on, found under its name.
    void AddControl_(String const& name, Ref<RectControl> const& control);
    // The window's control of that name, or Nil.
    Ref<RectControl> ControlByName_(String const& name) const;
    std::vector<Ref<RectControl>> controls() const;

    String const& Title() const { return m_title; }
    std::int32_t Width() const { return m_width; }
    std::int32_t Height() const { return m_height; }

    // The framework's side.
    QMainWindow* widget() const;
    QWidget* contentWidget() const;
    void raiseClassEvent(String const& event);
    void build(); // WindowDefaultConstructor's work
    void closedByUser();
    void contentResized(std::int32_t width, std::int32_t height);

private:
    int menuBarHeight() const;
    void applySize();
    void applySizeLimits();
    void applyTitle();
    void applyFrame();
    void applyVisible();
    void applyMenuBarVisible();
    void applyBackground();
    void applyFullScreen();
    void noEffect() { }

    std::unique_ptr<WindowWidget> m_widget;
    Ref<::MenuBar> m_menuBar;
    bool m_contentsChanged = false;
    bool m_built = false;
    std::vector<std::pair<String, Ref<RectControl>>> m_controls;

    std::int32_t m_placement = 0;
    std::int32_t m_width = 300;
    std::int32_t m_height = 300;
    std::int32_t m_minWidth = 64;
    std::int32_t m_minHeight = 64;
    std::int32_t m_maxWidth = 32000;
    std::int32_t m_maxHeight = 32000;
    std::int32_t m_frame = 0;
    bool m_composite = false;
    bool m_hasBackColor = false;
    Color m_backColor = RGB(255, 255, 255);
    String m_title;
    bool m_visible = true;
    bool m_fullScreen = false;
    bool m_menuBarVisible = true;
    bool m_closeButton = true;
    bool m_resizeable = true;
    bool m_liveResize = true;
    bool m_maximizeButton = true;
    bool m_minimizeButton = true;
    std::int32_t m_macProcID = 0;
};

// Builds the window: its Qt window, its register entries, its Layout and
// CreateControls events, its controls' Open events, and shows it when it is
// visible.
void WindowDefaultConstructor(Ref<Window> const& window);

// The window registered under a class's registered name, or Nil.
Ref<Window> RuntimeGetImplicitWindow(String const& className);
