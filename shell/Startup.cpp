#include "shell/Startup.h"

#include "matte/Vantrel.h"
#include "runtime/Delegate.h"
#include "runtime/Runtime.h"
#include "shell/App.h"
#include "shell/Imagetypes.h"
#include "shell/MenuBar1.h"
#include "window/Window1.h"

void* plugin_entrypoints_ = nullptr;

std::int32_t main_()
{
    RuntimeInit();
    initialize_();
    Main_();
    finalize_();
    return RuntimeExit();
}

void initialize_()
{
    RuntimeInitFrameworkClasses();
    App::ctblinit_();
    Window1::ctblinit_();
    MenuBar1::ctblinit_();
    Vantrel::ctblinit_();
}

void Main_()
{
    try {
        Ref<Delegate> helper = RuntimeCreateDelegate(&CallFunctionWithExceptionHandling_, "( Ptr, Ptr ) as Object");
        RuntimeSetExceptionHelper(helper->FunctionEntry());
        helper = nullptr;

        Ref<Delegate> startup = RuntimeCreateDelegate(&Startup_, "(  )");
        RunFrameworkInitialization(startup->FunctionEntry());
        startup = nullptr;

        RuntimeRun();
    } catch (...) {
        Ref<RuntimeException> exception = RuntimeCurrentException();
        UnhandledException(exception);
    }
}

Ref<RuntimeException> CallFunctionWithExceptionHandling_(void* function, void* argument)
{
    Ref<Delegate> const call = RuntimeCreateDelegate(reinterpret_cast<void (*)(void*)>(function), "( Ptr )");
    try {
        (*call)(argument);
    } catch (RaisedException const& raised) {
        return raised.exception();
    }
    return nullptr;
}

void Startup_()
{
    RuntimeInitExternalClasses();
    InitPluginEntrypoints_();
    InitFileTypes_();
    NewAppInstance_();
    ApplicationAddMenuHandlers_();
    MakeDefaultView_();
}

void InitPluginEntrypoints_()
{
    plugin_entrypoints_ = RuntimeAllocatePluginEntrypointsTable(0);
}

void InitFileTypes_()
{
    Imagetypes::Initialize_();
}

void NewAppInstance_()
{
    Ref<App> app = RuntimeCheckCast<App>(RuntimeNewObject(App::Lookup_()));
    app->Constructor();
    Ref<MenuBar1> bar = MenuBar1::MenuBar1_();
    app->MenuBar(bar);
    bar = nullptr;
    RuntimeRegisterAppObject(app);
}

void ApplicationAddMenuHandlers_()
{
}

void MakeDefaultView_()
{
    Ref<Window1> window = Window1::Window1_();
    window = nullptr;
}

void finalize_()
{
    RuntimeReleaseFrameworkGlobals();
    MenuBar1::implicitInstance_Exit_();
    Imagetypes::pPng_Exit_();
    Imagetypes::pJpeg_Exit_();
    Imagetypes::pImageTiff_Exit_();
    Imagetypes::pImagePict_Exit_();
    Imagetypes::pImageGif_Exit_();
    Imagetypes::pImageXBmp_Exit_();
    Imagetypes::pImageXTarga_Exit_();
}
