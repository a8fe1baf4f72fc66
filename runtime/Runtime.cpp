#include "runtime/Runtime.h"

#include "runtime/Application.h"
#include "runtime/BackgroundTask.h"
#include "runtime/Controls.h"
#include "runtime/Delegate.h"
#include "runtime/DragItem.h"
#include "runtime/FolderItem.h"
#include "runtime/SaveAsDialog.h"
#include "runtime/FileType.h"
#include "runtime/Graphics.h"
#include "runtime/Menu.h"
#include "runtime/Picture.h"
#include "runtime/RGBSurface.h"
#include "runtime/Recorder.h"
#include "runtime/Window.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <iostream>
#include <memory>

namespace framework_globals {
Ref<Application> application;
std::vector<Ref<Window>>* windows = nullptr;
std::map<String, Ref<Window>>* implicitWindows = nullptr;
}

namespace {

struct RunState {
    std::unique_ptr<QApplication> ownApplication;
    ExceptionHelper exceptionHelper = nullptr;
    UnhandledExceptionPresenter presenter;
    bool loopEnded = false;
    std::int32_t loopStatus = 0;
    std::vector<void*> pluginTables;
};

RunState& state()
{
    static RunState instance;
    return instance;
}

// The box is titled like the main window, the first one made, or with the
// application's name when there is none. Its text is the exception's
// message, which says what went wrong in the user's terms; the class name
// is there for whoever reports the fault, behind the box's details.
QString reportTitle()
{
    if (framework_globals::windows && !framework_globals::windows->empty()) {
        String const& title = framework_globals::windows->front()->Title();
        if (!title.empty())
            return QString::fromStdString(title);
    }
    return QApplication::applicationName();
}

void showInMessageBox(Ref<RuntimeException> const& exception)
{
    if (!QApplication::instance())
        return;
    QString const className = QString::fromStdString(exception->classRecord().name);
    QString const message = QString::fromStdString(exception->Message);
    QMessageBox box(QMessageBox::Critical, reportTitle(), message.isEmpty() ? className : message);
    box.setDetailedText(className);
    box.setObjectName(QStringLiteral("UnhandledExceptionBox"));
    box.exec();
}

// Qt ends the process, with advice to reinstall, when no platform of its
// own can start: the usual cause is a session without a graphical display.
// While the application object starts, Qt's messages are held back; if the
// start fails, one line says why and the run ends with status 1. Otherwise
// the held messages go on as Qt would have given them.
namespace platform_start {

struct HeldMessage {
    QtMsgType type;
    QByteArray file, function, category;
    int line;
    QString text;
};

std::vector<HeldMessage> held;

std::string displayProblem()
{
    QByteArray const display = qgetenv("DISPLAY");
    QByteArray const wayland = qgetenv("WAYLAND_DISPLAY");
    if (display.isEmpty() && wayland.isEmpty())
        return "no display was found (DISPLAY is not set)";
    return "the display " + (display.isEmpty() ? wayland : display).toStdString() + " could not be opened";
}

void hold(QtMsgType type, QMessageLogContext const& context, QString const& text)
{
    if (type == QtFatalMsg) {
        std::cerr << "Vantrel needs a graphical desktop: " << displayProblem() << std::endl;
        std::_Exit(1);
    }
    held.push_back({ type, context.file, context.function, context.category, context.line, text });
}

void passOn(HeldMessage const& message)
{
    QMessageLogger logger(message.file.constData(), message.line, message.function.constData(), message.category.constData());
    QByteArray const text = message.text.toLocal8Bit();
    switch (message.type) {
    case QtDebugMsg: logger.debug("%s", text.constData()); break;
    case QtInfoMsg: logger.info("%s", text.constData()); break;
    case QtWarningMsg: logger.warning("%s", text.constData()); break;
    default: logger.critical("%s", text.constData()); break;
    }
}

}

std::unique_ptr<QApplication> startApplication()
{
    static int argc = 1;
    static char name[] = "vantrel";
    static char* argv[] = { name, nullptr };
    QtMessageHandler const previous = qInstallMessageHandler(&platform_start::hold);
    auto application = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(previous);
    for (platform_start::HeldMessage const& message : std::exchange(platform_start::held, {}))
        platform_start::passOn(message);
    return application;
}

void callHandler(void* handler)
{
    (*static_cast<std::function<void()> const*>(handler))();
}

}

void RuntimeInit()
{
    RuntimeRecord("RuntimeInit");
    if (!QCoreApplication::instance())
        state().ownApplication = startApplication();
    QApplication::setApplicationName(QStringLiteral("Vantrel"));
    state().loopEnded = false;
    state().loopStatus = 0;
}

void RuntimeInitFrameworkClasses()
{
    RuntimeRecord("RuntimeInitFrameworkClasses");
    DragItem::ctblinit_();
    Window::ctblinit_();
    if (!framework_globals::windows)
        framework_globals::windows = new std::vector<Ref<Window>>();
    if (!framework_globals::implicitWindows)
        framework_globals::implicitWindows = new std::map<String, Ref<Window>>();
    Application::ctblinit_();
    MenuItem::ctblinit_();
    MenuBar::ctblinit_();
    QuitMenuItem::ctblinit_();
    FileType::ctblinit_();
    Picture::ctblinit_();
    Graphics::ctblinit_();
    RGBSurface::ctblinit_();
    Delegate::ctblinit_();
    RuntimeException::ctblinit_();
    NilObjectException::ctblinit_();
    OutOfBoundsException::ctblinit_();
    IllegalCastException::ctblinit_();
    OutOfMemoryException::ctblinit_();
    IOException::ctblinit_();
    Control::ctblinit_();
    RectControl::ctblinit_();
    Canvas::ctblinit_();
    Label::ctblinit_();
    PushButton::ctblinit_();
    FolderItem::ctblinit_();
    FolderItemDialog::ctblinit_();
    SaveAsDialog::ctblinit_();
}

void RuntimeSetExceptionHelper(void (*entry)())
{
    RuntimeRecord("RuntimeSetExceptionHelper");
    state().exceptionHelper = reinterpret_cast<ExceptionHelper>(entry);
}

void RunFrameworkInitialization(void (*startup)())
{
    RuntimeRecord("RunFrameworkInitialization");
    if (!framework_globals::windows)
        RuntimeInitFrameworkClasses();
    startup();
    RuntimeRecord("RunFrameworkInitialization done");
}

void RuntimeInitExternalClasses()
{
    RuntimeRecord("RuntimeInitExternalClasses");
}

void* RuntimeAllocatePluginEntrypointsTable(std::int32_t count)
{
    RuntimeRecord("RuntimeAllocatePluginEntrypointsTable", { std::to_string(count) });
    // The table lives for the run; the framework frees it at exit.
    auto* table = new std::vector<void*>(static_cast<std::size_t>(std::max(count, 0)));
    state().pluginTables.push_back(table);
    return table;
}

std::int32_t RuntimeRun()
{
    RuntimeRecord("RuntimeRun");
    // Only a loop that ends as it should gives its status: one left by an
    // exception leaves the run a failure, as a failed start-up is.
    state().loopStatus = QApplication::exec();
    state().loopEnded = true;
    RuntimeRecord("RuntimeRun done", { std::to_string(state().loopStatus) });
    return state().loopStatus;
}

namespace {

void noteUnhandled(RuntimeException const& e)
{
    RuntimeRecord("UnhandledException", { e.classRecord().name, e.Message });
    std::cerr << "Vantrel: unhandled " << e.classRecord().name;
    if (!e.Message.empty())
        std::cerr << ": " << e.Message;
    std::cerr << std::endl;
}

void present(Ref<RuntimeException> const& exception)
{
    if (state().presenter)
        state().presenter(exception);
    else
        showInMessageBox(exception);
}

}

void UnhandledException(Ref<RuntimeException> const& exception)
{
    noteUnhandled(exception.checked());
    present(exception);
}

void RuntimeSetUnhandledExceptionPresenter(UnhandledExceptionPresenter presenter)
{
    state().presenter = std::move(presenter);
}

void RuntimeReleaseFrameworkGlobals()
{
    RuntimeRecord("RuntimeReleaseFrameworkGlobals");
    framework_globals::application.clear();
    if (auto* windows = std::exchange(framework_globals::windows, nullptr))
        delete windows;
    if (auto* implicit = std::exchange(framework_globals::implicitWindows, nullptr))
        delete implicit;
}

std::int32_t RuntimeExit()
{
    std::int32_t const status = state().loopEnded ? state().loopStatus : 1;
    RuntimeRecord("RuntimeExit", { std::to_string(status) });
    for (void* table : std::exchange(state().pluginTables, {}))
        delete static_cast<std::vector<void*>*>(table);
    state().exceptionHelper = nullptr;
    state().ownApplication.reset();
    return status;
}

Ref<RuntimeException> RuntimeCurrentException()
{
    try {
        throw;
    } catch (RaisedException const& raised) {
        return raised.exception();
    } catch (std::exception const& other) {
        Ref<RuntimeException> wrapped = RuntimeNewObject<RuntimeException>();
        wrapped->Message = other.what();
        return wrapped;
    } catch (...) {
        Ref<RuntimeException> wrapped = RuntimeNewObject<RuntimeException>();
        wrapped->Message = "an exception of unknown type";
        return wrapped;
    }
}

void RuntimeRunGuarded(std::function<void()> const& handler)
{
    Ref<RuntimeException> exception;
    try {
        if (ExceptionHelper helper = state().exceptionHelper) {
            exception = helper(reinterpret_cast<void*>(&callHandler), const_cast<std::function<void()>*>(&handler));
        } else {
            handler();
        }
    } catch (...) {
        exception = RuntimeCurrentException();
    }
    if (!exception)
        return;
    // The report is written at once; the message box waits until the event
    // is over, so that its own event loop does not run inside a paint or
    // while the program that sent a drop waits for its answer, and, for a
    // handler that ran at a yield point, until the work is over.
    noteUnhandled(*exception);
    if (QCoreApplication::instance())
        QTimer::singleShot(0, QCoreApplication::instance(), [exception] { background_task::whenWorkIsOver([exception] { present(exception); }); });
    else
        present(exception);
}
