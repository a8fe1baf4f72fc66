#include "runtime/RepaintAfterComputation.h"

#include "runtime/BackgroundTask.h"

#include <QTimer>
#include <QWidget>

namespace {
// Timers run at yield points too; there this one only looks and waits.
constexpr int checkEveryMilliseconds = 20;
}

void RepaintAfterComputation::request(QWidget& widget)
{
    if (!widget.findChild<RepaintAfterComputation*>(QString(), Qt::FindDirectChildrenOnly))
        new RepaintAfterComputation(widget);
}

RepaintAfterComputation::RepaintAfterComputation(QWidget& widget)
    : QObject(&widget)
    , m_widget(widget)
    , m_timer(new QTimer(this))
{
    connect(m_timer, &QTimer::timeout, this, &RepaintAfterComputation::check);
    m_timer->start(checkEveryMilliseconds);
}

void RepaintAfterComputation::check()
{
    if (background_task::yielding())
        return;
    m_timer->stop();
    m_widget.update();
    deleteLater();
}
