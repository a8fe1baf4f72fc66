#pragma once

#include "runtime/ClassRecord.h"
#include "runtime/Menu.h"

// The application object: one a run, registered with the framework, which
// keeps it alive until shut-down.
class Application : public RuntimeClass<Application> {
public:
    static ClassRecord buildRecord();

    Ref<::MenuBar> const& MenuBar() const { return m_menuBar; }
    void MenuBar(Ref<::MenuBar> bar);

private:
    Ref<::MenuBar> m_menuBar;
};

// Makes the object the framework's application object and keeps it.
void RuntimeRegisterAppObject(Ref<Application> const& application);
Ref<Application> RuntimeApplicationObject();
