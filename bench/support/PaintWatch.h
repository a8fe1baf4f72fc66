#pragma once

#include <QElapsedTimer>
#include <QEvent>
#include <QObject>
#include <QWidget>

#include <algorithm>

// Counts the paints of a widget and the longest time between two of them.
class PaintWatch : public QObject {
public:
    explicit PaintWatch(QWidget* widget) { widget->installEventFilter(this); }
    void start()
    {
        m_clock.start();
        m_last = 0;
        m_longest = 0;
        m_paints = 0;
    }
    qint64 finish()
    {
        note();
        return m_longest;
    }
    int paints() const { return m_paints; }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            ++m_paints;
            note();
        }
        return false;
    }

private:
    void note()
    {
        qint64 const now = m_clock.elapsed();
        m_longest = std::max(m_longest, now - m_last);
        m_last = now;
    }
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
    int m_paints = 0;
};
