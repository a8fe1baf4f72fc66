#pragma once

// The Qt widgets behind the framework's windows and controls; only the
// framework sees them.

#include <QMainWindow>

class Window;

class WindowWidget : public QMainWindow {
public:
    explicit WindowWidget(Window& window);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    Window& m_window;
};

// The window's content area: the controls' parent.
class ContentWidget : public QWidget {
public:
    explicit ContentWidget(Window& window);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    Window& m_window;
};
