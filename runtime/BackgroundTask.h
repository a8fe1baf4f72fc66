#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

// The cooperative yield point of long work on the GUI thread. A pass costs a
// counter; every few thousand passes the clock is read, and once about 30 ms
// have gone by since the last time, pending events run: paints, timers, and
// what the platform sends. The user's input among them (mouse buttons,
// wheel, keys) is dropped, never delivered later; a drop is refused; the
// close box and the quit shortcut are remembered and carried out once the
// work is over. From the first such yield until then, the pointer shows the
// busy cursor. On any thread but the GUI thread the yield point does
// nothing.
namespace background_task {
// This thread's passes, and the pass at which it next reads the clock.
inline thread_local std::uint64_t passes = 0;
inline thread_local std::uint64_t nextClockCheck = 4096;
void checkClock();

// For the framework's own long operations on pictures (fills, copies,
// decoding of many rows): lets events run when they are due, without
// counting a pass.
void yieldIfDue();

// Waits on this thread, holding the lock, until done() holds: the thread
// that makes it hold notifies the condition. On the GUI thread, events run
// meanwhile as at a yield point.
void waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& signal, std::function<bool()> const& done);

// True while events run at a yield point: input that arrives then (a drop)
// is refused, and work that must not run inside a handler waits.
bool yielding();

// True from the first yield of a piece of work until the event loop runs
// again on its own: meanwhile the pointer shows the busy cursor.
bool showingBusyCursor();

// Runs the action once the work under way is over, on the GUI thread; at
// once when no work is under way.
void whenWorkIsOver(std::function<void()> action);

// While one of these lives (a paint in progress), no events run at the
// yield point.
class Suspend {
public:
    Suspend();
    ~Suspend();
    Suspend(Suspend const&) = delete;
    Suspend& operator=(Suspend const&) = delete;
};
}

inline void RuntimeBackgroundTask()
{
    if (++background_task::passes >= background_task::nextClockCheck)
        background_task::checkClock();
}

// How often this thread has passed the yield point since it began.
std::uint64_t RuntimeBackgroundTaskPasses();
