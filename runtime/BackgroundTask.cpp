#include "runtime/BackgroundTask.h"

#include <QCoreApplication>
#include <QElapsedTimer>

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

void checkClock()
{
    nextClockCheck = passes + passesBetweenClockChecks;
    QElapsedTimer& timer = sinceLastYield();
    if (timer.elapsed() < millisecondsBetweenYields)
        return;
    if (QCoreApplication::instance())
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    timer.restart();
}
}

std::uint64_t RuntimeBackgroundTaskPasses()
{
    return background_task::passes;
}
