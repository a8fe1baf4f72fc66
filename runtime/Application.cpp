#include "runtime/Application.h"

#include "runtime/Recorder.h"
#include "runtime/Runtime.h"

ClassRecord Application::buildRecord()
{
    return ClassRecordBuilder<Application>("Application")
        .events({ "Open", "Close", "EnableMenuItems", "NewDocument", "OpenDocument", "HandleAppleEvent",
            "Activate", "Deactivate", "UnhandledException", "CancelClose" })
        .build();
}

void Application::MenuBar(Ref<::MenuBar> bar)
{
    RuntimeRecord("Application.MenuBar", { bar ? bar->classRecord().name : "Nil" });
    m_menuBar = std::move(bar);
}

void RuntimeRegisterAppObject(Ref<Application> const& application)
{
    RuntimeRecord("RuntimeRegisterAppObject", { application.checked().classRecord().name });
    framework_globals::application = application;
}

Ref<Application> RuntimeApplicationObject()
{
    return framework_globals::application;
}
