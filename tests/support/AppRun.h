#pragma once

#include "runtime/Recorder.h"
#include "support/RecordedCalls.h"
#include "runtime/Runtime.h"
#include "shell/Startup.h"
#include "window/Window1.h"

#include <QAction>
#include <QMainWindow>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <vector>

// A whole run of the program, start-up to exit, with the framework's calls
// recorded. `whileRunning` runs once the event loop has started; the run
// ends when it quits, or when it has not quit by itself, through File, Quit.
struct AppRun : RecordedCalls {
    std::int32_t status = -1;

    explicit AppRun(std::function<void()> whileRunning = {}, std::function<void(RecordedCall const&)> onCall = {})
    {
        RuntimeAttachRecorder([this, onCall](RecordedCall const& call) {
            calls.push_back(call);
            if (onCall)
                onCall(call);
        });
        // The timer goes with this object, so a run that never reached its
        // event loop leaves nothing behind for the next one.
        QTimer start;
        start.setSingleShot(true);
        QObject::connect(&start, &QTimer::timeout, [whileRunning] {
            if (whileRunning)
                whileRunning();
            Ref<Window> const window = RuntimeGetImplicitWindow("Window1.Window1");
            QAction* quit = quitAction();
            if (quit && window->widget()->isVisible())
                quit->trigger();
        });
        start.start(0);
        status = main_();
        RuntimeAttachRecorder({});
    }

    static QAction* quitAction()
    {
        Ref<Window> window = RuntimeGetImplicitWindow("Window1.Window1");
        if (!window || !window->widget())
            return nullptr;
        for (QAction* action : window->widget()->findChildren<QAction*>()) {
            if (action->objectName() == QLatin1String("FileQuit"))
                return action;
        }
        return nullptr;
    }
};
