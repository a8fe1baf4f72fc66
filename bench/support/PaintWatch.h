#pragma once

#include <QElapsedTimer>
#include <QEvent>
#include <QObject>
#include <QTimer>
#include <QWidget>

#include <algorithm>

// Counts the paints of a widget and the longest time between two of them,
// while a timer asks for a repaint every 5 ms.
class PaintWatch : public QObject {
public:
    explicit PaintWatch(QWidget* widget)
    {
        widget->installEventFilter(this);
        QObject::connect(&m_ticker, &QTimer::timeout, widget, [widget] { widget->update(); });
        m_ticker.start(5);
    }
    void start()
    {
        m_clock.start();
        m_last = 0;
        m_longest = 0;
        m_paints = 0;
    }
    // The longest gap since start, counting the one up to now.
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
    QTimer m_ticker;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
    int m_paints = 0;
};
