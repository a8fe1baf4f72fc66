#pragma once

#include <cstdint>
#include <functional>

// The cooperative yield point of long computations on the GUI thread. A pass
// costs a counter; every few thousand passes the clock is read, and once
// about 30 ms have gone by since the last time, pending paint and timer
// events run. User input never runs here, so no drop or click can arrive in
// the middle of a computation. From the first such yield until the work is
// over, the pointer shows the busy cursor.
namespace background_task {
extern std::uint64_t passes;
extern std::uint64_t nextClockCheck;
void checkClock();

// For the framework's own long operations on pictures (fills and copies of
// many rows): lets events run when they are due, without counting a pass.
void yieldIfDue();

// Waits on this thread until work on others is done, letting events run
// meanwhile as at a yield point.
void waitUntil(std::function<bool()> const& done);

// True while events run at a yield point: input that arrives then (a drop)
// is refused, and work that must not run inside a handler waits.
bool yielding();

// True from the first yield of a piece of work until the event loop waits
// for input again: meanwhile the pointer shows the busy cursor.
bool showingBusyCursor();

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

// How often the yield point has been passed since the process began.
std::uint64_t RuntimeBackgroundTaskPasses();
