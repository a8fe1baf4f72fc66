#pragma once

#include "runtime/Runtime.h"
#include "shell/MenuBar1.h"
#include "window/Window1.h"

#include <QApplication>
#include <QWidget>

// The main window as start-up builds it, for the length of one benchmark.
struct MainWindow {
    Ref<Window1> window;
    MainWindow()
    {
        RuntimeInitFrameworkClasses();
        window = Window1::Window1_();
        QApplication::processEvents();
    }
    ~MainWindow()
    {
        window = nullptr;
        RuntimeReleaseFrameworkGlobals();
        MenuBar1::implicitInstance_Exit_();
    }
    MainWindow(MainWindow const&) = delete;
    MainWindow& operator=(MainWindow const&) = delete;
    QWidget* canvas(char const* name) const { return window->ControlByName_(name)->widget(); }
};
