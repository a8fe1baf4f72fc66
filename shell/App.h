#pragma once

#include "runtime/Application.h"

// The application class: an Application with nothing of its own but an
// empty constructor; every application event keeps its default.
class App : public RuntimeClass<App, Application> {
public:
    static ClassRecord buildRecord();
    void Constructor();
};
