#pragma once

#include "runtime/Exceptions.h"

#include <functional>
#include <map>
#include <vector>

class Application;
class Window;

// The life cycle of a run, in the order a program calls it:
//   RuntimeInit, the class records, RuntimeSetExceptionHelper,
//   RunFrameworkInitialization (which calls the program's start-up routine),
//   RuntimeRun, then the program's own releases, and RuntimeExit.

// Prepares the runtime: the Qt application, unless one exists already.
void RuntimeInit();

// Builds the records of the framework's classes: DragItem, then Window,
// after which the framework's list of windows exists, then all others.
void RuntimeInitFrameworkClasses();

// The routine through which the framework runs code of the program's that
// may raise: it calls the function with the argument and returns the
// runtime exception raised, or Nil.
using ExceptionHelper = Ref<RuntimeException> (*)(void* function, void* argument);
void RuntimeSetExceptionHelper(void (*entry)());

// Initialises the framework and calls the start-up routine once.
void RunFrameworkInitialization(void (*startup)());
void RuntimeInitExternalClasses();
void* RuntimeAllocatePluginEntrypointsTable(std::int32_t count);

// The event loop; returns when the application quits.
std::int32_t RuntimeRun();

// The report of an exception that nothing caught: its class and message go
// to stderr and to a modal message box.
void UnhandledException(Ref<RuntimeException> const& exception);

// Replaces how an unhandled exception is shown (for tests); an empty one
// restores the message box.
using UnhandledExceptionPresenter = std::function<void(Ref<RuntimeException> const&)>;
void RuntimeSetUnhandledExceptionPresenter(UnhandledExceptionPresenter presenter);

// Releases the framework's globals: the application object, the window list
// and the register of implicit windows, each emptied before its values go.
void RuntimeReleaseFrameworkGlobals();

// Shuts the runtime down; the result is the process's exit status.
std::int32_t RuntimeExit();

// Runs an event handler of the program's: a runtime exception that ends it
// is reported as unhandled (the message box shows once the event is over),
// and the event loop goes on.
void RuntimeRunGuarded(std::function<void()> const& handler);

// Wraps any exception in flight as a runtime exception, for reporting.
Ref<RuntimeException> RuntimeCurrentException();

namespace framework_globals {
extern Ref<Application> application;
extern std::vector<Ref<Window>>* windows;
extern std::map<String, Ref<Window>>* implicitWindows;
}
