#include "runtime/Window.h"

#include "runtime/BackgroundTask.h"
#include "runtime/Controls.h"
#include "runtime/Exceptions.h"
#include "runtime/Recorder.h"
#include "runtime/Runtime.h"
#include "runtime/Widgets.h"

#include <QCloseEvent>
#include <QMenuBar>
#include <QPointer>
#include <QTimer>

#include <algorithm>

WindowWidget::WindowWidget(Window& window)
    : m_window(window)
{
    setAttribute(Qt::WA_DeleteOnClose, false);
}

void WindowWidget::closeEvent(QCloseEvent* event)
{
    // A close is never refused. The window object lets go of itself once the
    // event is over, so that its widget is not deleted in its own handler.
    event->accept();
    QTimer::singleShot(0, this, [&window = m_window] { window.closedByUser(); });
}

ContentWidget::ContentWidget(Window& window)
    : m_window(window)
{
}

void ContentWidget::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_window.contentResized(width(), height());
}

Window::Window() = default;

Window::~Window()
{
    m_controls.clear();
    m_widget.reset();
}

ClassRecord Window::buildRecord()
{
    using W = Window;
    return ClassRecordBuilder<W>("Window")
        .events({ "Open", "Close", "CancelClose", "Layout", "CreateControls", "Activate", "Deactivate", "Resized", "Moved" })
        .property("Placement", "i4", {}, &W::m_placement, &W::noEffect)
        .property("Width", "i4", {}, &W::m_width, &W::applySize)
        .property("Height", "i4", {}, &W::m_height, &W::applySize)
        .property("MinWidth", "i4", {}, &W::m_minWidth, &W::applySizeLimits)
        .property("MinHeight", "i4", {}, &W::m_minHeight, &W::applySizeLimits)
        .property("MaxWidth", "i4", {}, &W::m_maxWidth, &W::applySizeLimits)
        .property("MaxHeight", "i4", {}, &W::m_maxHeight, &W::applySizeLimits)
        .property("Frame", "i4", {}, &W::m_frame, &W::applyFrame)
        .property("Composite", "b", {}, &W::m_composite, &W::noEffect)
        .property("HasBackColor", "b", {}, &W::m_hasBackColor, &W::applyBackground)
        .property("BackColor", "c", {}, &W::m_backColor, &W::applyBackground)
        .property("Title", "s", {}, &W::m_title, &W::applyTitle)
        .property("Visible", "b", {}, &W::m_visible, &W::applyVisible)
        .property("FullScreen", "b", {}, &W::m_fullScreen, &W::applyFullScreen)
        .property("MenuBarVisible", "b", {}, &W::m_menuBarVisible, &W::applyMenuBarVisible)
        .property("CloseButton", "b", {}, &W::m_closeButton, &W::applyFrame)
        .property("Resizeable", "b", {}, &W::m_resizeable, &W::applySizeLimits)
        .property("LiveResize", "b", {}, &W::m_liveResize, &W::noEffect)
        .property("MaximizeButton", "b", {}, &W::m_maximizeButton, &W::applyFrame)
        .property("MinimizeButton", "b", {}, &W::m_minimizeButton, &W::applyFrame)
        .property("MacProcID", "i4", {}, &W::m_macProcID, &W::noEffect)
        .build();
}

void Window::Constructor()
{
    WindowDefaultConstructor(Ref<Window>(this));
    ContentsChanged(false);
}

void Window::MenuBar(Ref<::MenuBar> bar)
{
    RuntimeRecord("Window.MenuBar", { bar ? bar->classRecord().name : "Nil" });
    m_menuBar = std::move(bar);
    if (!m_widget)
        return;
    if (m_menuBar) {
        m_widget->setMenuBar(RuntimeBuildQtMenuBar(m_menuBar, m_widget.get()));
    } else if (QMenuBar* old = m_widget->menuWidget() ? m_widget->menuBar() : nullptr) {
        m_widget->setMenuWidget(nullptr);
        delete old;
    }
    applyMenuBarVisible();
    applySize();
}

Ref<Object> Window::New_(ClassRecord const& record)
{
    return RuntimeNewObject(record);
}

void Window::AddControl_(String const& name, Ref<RectControl> const& control)
{
    RectControl& added = control.checked();
    if (!m_widget)
        RaiseRuntimeException("controls can only be added to a window that is being built");
    RuntimeRecord("Window.AddControl", { name });
    m_controls.emplace_back(name, control);
    added.attach(*this, contentWidget());
}

Ref<RectControl> Window::ControlByName_(String const& name) const
{
    for (auto const& [controlName, control] : m_controls) {
        if (controlName == name)
            return control;
    }
    return nullptr;
}

std::vector<Ref<RectControl>> Window::controls() const
{
    std::vector<Ref<RectControl>> all;
    for (auto const& entry : m_controls)
        all.push_back(entry.second);
    return all;
}

QMainWindow* Window::widget() const
{
    return m_widget.get();
}

QWidget* Window::contentWidget() const
{
    return m_widget ? m_widget->centralWidget() : nullptr;
}

void Window::raiseClassEvent(String const& event)
{
    if (EventHandlerEntry const* handler = classRecord().findEventHandler(event)) {
        RuntimeRecord("Window event", { classRecord().name, event });
        handler->handler(*this);
    }
}

void Window::build()
{
    m_widget = std::make_unique<WindowWidget>(*this);
    m_widget->setCentralWidget(new ContentWidget(*this));
    applyFrame();
    applySizeLimits();
    applySize();

    Ref<Window> self(this);
    framework_globals::windows->push_back(self);
    framework_globals::implicitWindows->try_emplace(classRecord().name, self);

    raiseClassEvent("Layout");
    raiseClassEvent("CreateControls");
    for (Ref<RectControl> const& control : controls())
        control->raiseEvent("Open", { Value(Ref<Object>(control)) }, /*guarded=*/false);

    // Tab order follows the controls' tab indices.
    std::vector<Ref<RectControl>> order = controls();
    std::stable_sort(order.begin(), order.end(), [](auto const& a, auto const& b) { return a->TabIndex() < b->TabIndex(); });
    for (std::size_t i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1]->widget(), order[i]->widget());

    m_built = true;
    applyBackground();
    applyFullScreen();
    applyVisible();
}

void Window::closedByUser()
{
    // Letting go of the window may free it and its widgets; not while a
    // computation lets events run, since one of its handlers is under way.
    if (background_task::yielding()) {
        background_task::whenWorkIsOver([widget = QPointer<QWidget>(m_widget.get()), this] {
            if (widget)
                closedByUser();
        });
        return;
    }
    RuntimeRecord("Window closed", { classRecord().name });
    Ref<Window> const self(this); // keeps the object alive to the end of this call
    if (auto* windows = framework_globals::windows)
        std::erase_if(*windows, [this](Ref<Window> const& w) { return w.get() == this; });
    if (auto* implicit = framework_globals::implicitWindows)
        std::erase_if(*implicit, [this](auto const& entry) { return entry.second.get() == this; });
}

void Window::contentResized(std::int32_t width, std::int32_t height)
{
    if (!m_built || (width == m_width && height == m_height))
        return;
    for (Ref<RectControl> const& control : controls())
        control->followResize(m_width, m_height, width, height);
    m_width = width;
    m_height = height;
}

int Window::menuBarHeight() const
{
    return m_widget->menuWidget() && m_menuBarVisible ? m_widget->menuWidget()->sizeHint().height() : 0;
}

void Window::applySize()
{
    if (!m_widget)
        return;
    m_widget->resize(m_width, m_height + menuBarHeight());
    m_widget->centralWidget()->resize(m_width, m_height);
}

void Window::applySizeLimits()
{
    if (!m_widget)
        return;
    QWidget* content = m_widget->centralWidget();
    QSize const minimum = m_resizeable ? QSize(m_minWidth, m_minHeight) : QSize(m_width, m_height);
    QSize const maximum = m_resizeable ? QSize(m_maxWidth, m_maxHeight) : QSize(m_width, m_height);
    content->setMinimumSize(minimum);
    content->setMaximumSize(maximum);
    // The window manager reads the limits from the window itself, which
    // holds the menu bar above the content: the content's own limits alone
    // would let the frame grow past them.
    QSize const menu(0, menuBarHeight());
    m_widget->setMinimumSize(minimum + menu);
    m_widget->setMaximumSize((maximum + menu).boundedTo(QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX)));
}

void Window::applyTitle()
{
    if (m_widget)
        m_widget->setWindowTitle(QString::fromStdString(m_title));
}

void Window::applyFrame()
{
    if (!m_widget)
        return;
    Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint;
    if (m_closeButton)
        flags |= Qt::WindowCloseButtonHint;
    if (m_minimizeButton)
        flags |= Qt::WindowMinimizeButtonHint;
    if (m_maximizeButton)
        flags |= Qt::WindowMaximizeButtonHint;
    bool const shown = m_widget->isVisible();
    m_widget->setWindowFlags(flags);
    if (shown)
        m_widget->show();
}

void Window::applyVisible()
{
    if (m_widget && m_built)
        m_widget->setVisible(m_visible);
}

void Window::applyMenuBarVisible()
{
    if (m_widget && m_widget->menuWidget())
        m_widget->menuWidget()->setVisible(m_menuBarVisible);
    applySizeLimits();
}

void Window::applyBackground()
{
    if (!m_widget)
        return;
    QWidget* content = m_widget->centralWidget();
    content->setAutoFillBackground(m_hasBackColor);
    if (m_hasBackColor) {
        QPalette palette = content->palette();
        palette.setColor(QPalette::Window, QColor(m_backColor.Red(), m_backColor.Green(), m_backColor.Blue()));
        content->setPalette(palette);
    }
}

void Window::applyFullScreen()
{
    if (m_widget && m_built && m_fullScreen)
        m_widget->setWindowState(m_widget->windowState() | Qt::WindowFullScreen);
}

void WindowDefaultConstructor(Ref<Window> const& window)
{
    Window& w = window.checked();
    RuntimeRecord("WindowDefaultConstructor", { w.classRecord().name });
    if (!framework_globals::windows)
        RaiseRuntimeException("the framework is not initialised");
    w.build();
}

Ref<Window> RuntimeGetImplicitWindow(String const& className)
{
    if (!framework_globals::implicitWindows)
        return nullptr;
    auto found = framework_globals::implicitWindows->find(className);
    return found == framework_globals::implicitWindows->end() ? nullptr : found->second;
}
