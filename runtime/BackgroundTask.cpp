#include "runtime/BackgroundTask.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QCoreApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QWindow>

#include <chrono>
#include <limits>
#include <thread>
#include <utility>
#include <vector>

namespace {
constexpr std::uint64_t passesBetweenClockChecks = 4096;
constexpr qint64 millisecondsBetweenYields = 30;
constexpr qint64 millisecondsBetweenEventsWhileWaiting = 10;

// The thread that runs main(), which makes the application object: the GUI
// thread. Namespace-scope objects are made on it, before main() begins.
std::thread::id const mainThread = std::this_thread::get_id();

bool onGuiThread()
{
    return std::this_thread::get_id() == mainThread && QCoreApplication::instance();
}

QElapsedTimer& sinceLastYield()
{
    static QElapsedTimer timer;
    if (!timer.isValid())
        timer.start();
    return timer;
}
}

namespace background_task {

namespace {
int suspended = 0;
bool inYield = false;
bool busy = false;
bool showingBusy = false;
std::vector<std::function<void()>> afterWork;
bool quitAsked = false;

// The events of the user's hands: those that arrive while events run at a
// yield point are dropped, so that nothing the user did during the work is
// carried out seconds later. The close box and the quit shortcut are the
// exception: they were asked for, and they are carried out once the work is
// over.
class InputDuringWork : public QObject {
protected:
    bool eventFilter(QObject* receiver, QEvent* event) override
    {
        // A modal window opened at a yield point (a report) takes input
        // as usual: the work waits for it.
        if (!inYield || QGuiApplication::modalWindow())
            return false;
        switch (event->type()) {
        case QEvent::Shortcut:
            if (auto* action = qobject_cast<QAction*>(receiver); action && action->menuRole() == QAction::QuitRole && !quitAsked) {
                quitAsked = true; // however often it was pressed
                whenWorkIsOver([action = QPointer<QAction>(action)] {
                    quitAsked = false;
                    if (action)
                        action->trigger();
                });
            }
            return true;
        case QEvent::Close:
            if (!event->spontaneous() || !receiver->isWindowType())
                return false;
            whenWorkIsOver([window = QPointer<QWindow>(static_cast<QWindow*>(receiver))] {
                if (window)
                    window->close();
            });
            event->ignore();
            return true;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TouchCancel:
        case QEvent::TabletPress:
        case QEvent::TabletMove:
        case QEvent::TabletRelease:
        case QEvent::NonClientAreaMouseButtonPress:
        case QEvent::NonClientAreaMouseButtonRelease:
        case QEvent::NonClientAreaMouseButtonDblClick:
            return true;
        default:
            return false;
        }
    }
};

// Work that reaches a yield point has run long enough for the user to
// notice: the window is busy until the event loop runs again on its own,
// which it does only once the work is over (or a modal dialog takes over).
// What waited for that moment then runs, each as an event of its own.
void endBusy()
{
    if (!busy || inYield)
        return;
    busy = false;
    if (showingBusy) {
        showingBusy = false;
        QGuiApplication::restoreOverrideCursor();
    }
    for (std::function<void()>& action : std::exchange(afterWork, {}))
        QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(action), Qt::QueuedConnection);
}

// Work is timed from when the event loop last woke up to hand it an event,
// so a short piece of work after a long idle spell does not yield at once.
void loopAwake()
{
    endBusy();
    if (!inYield)
        sinceLastYield().restart();
}

void watchEventLoop()
{
    QAbstractEventDispatcher* const dispatcher = QAbstractEventDispatcher::instance();
    static QAbstractEventDispatcher* watched = nullptr;
    if (!dispatcher || watched == dispatcher)
        return;
    QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, dispatcher, &endBusy);
    QObject::connect(dispatcher, &QAbstractEventDispatcher::awake, dispatcher, &loopAwake);
    watched = dispatcher;
}

void beginBusy()
{
    if (busy)
        return;
    busy = true;
    if (showingBusy || !qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return;
    static InputDuringWork* const filter = [] {
        auto* made = new InputDuringWork;
        made->setParent(QCoreApplication::instance());
        QCoreApplication::instance()->installEventFilter(made);
        return made;
    }();
    (void)filter;
    showingBusy = true;
    QGuiApplication::setOverrideCursor(QCursor(Qt::BusyCursor));
}

void letEventsRun()
{
    // Events that run here may reach a yield point themselves; they must
    // not run events in turn.
    Suspend const nested;
    inYield = true;
    beginBusy();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    // The repaints that timers ask for while events run are posted events of
    // their own: they are painted now rather than a yield later.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
    inYield = false;
}
}

bool showingBusyCursor() { return busy && showingBusy; }

bool yielding() { return inYield; }

Suspend::Suspend() { ++suspended; }
Suspend::~Suspend() { --suspended; }

void whenWorkIsOver(std::function<void()> action)
{
    if (busy)
        afterWork.push_back(std::move(action));
    else
        action();
}

void yieldIfDue()
{
    if (!onGuiThread())
        return;
    watchEventLoop();
    QElapsedTimer& timer = sinceLastYield();
    if (timer.elapsed() < millisecondsBetweenYields || suspended > 0)
        return;
    letEventsRun();
    timer.restart();
}

void waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& signal, std::function<bool()> const& done)
{
    if (!onGuiThread() || suspended > 0) {
        signal.wait(lock, done);
        return;
    }
    // This thread has nothing else to do meanwhile: events run more often
    // than at a yield point of work on it, so that paints come promptly.
    watchEventLoop();
    while (!signal.wait_for(lock, std::chrono::milliseconds(millisecondsBetweenEventsWhileWaiting), done)) {
        lock.unlock();
        letEventsRun();
        sinceLastYield().restart();
        lock.lock();
    }
}

void checkClock()
{
    if (std::this_thread::get_id() != mainThread) {
        nextClockCheck = std::numeric_limits<std::uint64_t>::max();
        return;
    }
    nextClockCheck = passes + passesBetweenClockChecks;
    yieldIfDue();
}
}

std::uint64_t RuntimeBackgroundTaskPasses()
{
    return background_task::passes;
}
