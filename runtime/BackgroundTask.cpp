#include "runtime/BackgroundTask.h"

#include <QAbstractEventDispatcher>
#include <QCursor>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QGuiApplication>

#include <chrono>
#include <thread>

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
bool showingBusy = false;

// Work that reaches a yield point has run long enough for the user to
// notice: the pointer says the window is busy until the event loop next
// waits for input, which it does only once the work is over (or a modal
// dialog takes over).
void restoreWhenIdle()
{
    if (!showingBusy || inYield)
        return;
    showingBusy = false;
    QGuiApplication::restoreOverrideCursor();
}

// Work is timed from when the event loop last woke up to hand it an event,
// so a short piece of work after a long idle spell does not yield at once.
void startTiming()
{
    if (!inYield)
        sinceLastYield().restart();
}

void watchEventLoop()
{
    QAbstractEventDispatcher* const dispatcher = QAbstractEventDispatcher::instance();
    static QAbstractEventDispatcher* watched = nullptr;
    if (!dispatcher || watched == dispatcher)
        return;
    QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, dispatcher, &restoreWhenIdle);
    QObject::connect(dispatcher, &QAbstractEventDispatcher::awake, dispatcher, &startTiming);
    watched = dispatcher;
}

void showBusy()
{
    if (showingBusy || !qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return;
    showingBusy = true;
    QGuiApplication::setOverrideCursor(QCursor(Qt::BusyCursor));
}
}

bool showingBusyCursor() { return showingBusy; }

bool yielding() { return inYield; }

Suspend::Suspend() { ++suspended; }
Suspend::~Suspend() { --suspended; }

void yieldIfDue()
{
    watchEventLoop();
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
        showBusy();
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
    }
    inYield = false;
    timer.restart();
}

void waitUntil(std::function<bool()> const& done)
{
    while (!done()) {
        yieldIfDue();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
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
