#include "runtime/RepaintAfterComputation.h"

#include "runtime/BackgroundTask.h"

#include <QList>
#include <QPointer>
#include <QWidget>

#include <utility>

namespace {
QList<QPointer<QWidget>> waiting;
}

void RepaintAfterComputation::request(QWidget& widget)
{
    if (waiting.contains(&widget))
        return;
    waiting.append(&widget);
    if (waiting.size() > 1)
        return;
    background_task::whenWorkIsOver([] {
        for (QPointer<QWidget> const& asked : std::exchange(waiting, {}))
            if (asked)
                asked->update();
    });
}
