#pragma once

#include "runtime/Exceptions.h"

// The program's life cycle: start-up in a fixed order, the event loop inside
// one catch-all, and shut-down in a fixed order.

// The whole run; the result is the process's exit status.
std::int32_t main_();

// Builds every class record: the framework's first, then App, Window1,
// MenuBar1 and Vantrel.
void initialize_();

// Hands the framework its exception-catching routine and start-up routine,
// and runs the event loop, all inside the one catch-all.
void Main_();

// Runs the function on the argument; returns the runtime exception it
// raised, or Nil. Any other exception passes on.
Ref<RuntimeException> CallFunctionWithExceptionHandling_(void* function, void* argument);

// The framework calls this once while it initialises.
void Startup_();
void InitFileTypes_();
void NewAppInstance_();
void ApplicationAddMenuHandlers_();
void MakeDefaultView_();

// Releases the module globals: the framework's, the menu bar, the types.
void finalize_();

// The framework's plug-in table; the program has no plug-ins.
extern void* plugin_entrypoints_;
void InitPluginEntrypoints_();
