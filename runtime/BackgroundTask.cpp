#include "runtime/BackgroundTask.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>

namespace {
constexpr std::uint64_t passesBetweenClockChecks = 4096;
constexpr qint64 millisecondsBetweenYields = 30;

QElapsedTimer& sinceLastYield()
{
    static QElapsedTimer timer;
    if (!timer.isValid())
        timer.start();
    return timer;
}
}

namespace background_task {
std::uint64_t passes = 0;
std::uint64_t nextClockCheck = passesBetweenClockChecks;

namespace {
int suspended = 0;
bool inYield = false;
}

bool yielding() { return inYield; }

Suspend::Suspend() { ++suspended; }
Suspend::~Suspend() { --suspended; }

void yieldIfDue()
{
    QElapsedTimer& timer = sinceLastYield();
    if (timer.elapsed() < millisecondsBetweenYields || suspended > 0)
        return;
    // Events that run here may reach a yield point themselves; they must
    // not run events in turn.
    Suspend const nested;
    inYield = true;
    // The repaints that timers ask for while events run are posted events of
    // their own: they are painted now rather than a yield later.
    if (QCoreApplication::instance()) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
    }
    inYield = false;
    timer.restart();
}

void checkClock()
{
    nextClockCheck = passes + passesBetweenClockChecks;
    yieldIfDue();
}
}

std::uint64_t RuntimeBackgroundTaskPasses()
{
    return background_task::passes;
}
