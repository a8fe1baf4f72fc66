#pragma once

#include <QObject>

class QTimer;
class QWidget;

// Has a widget painted again once the computation that is letting events
// run is over: a paint that came at a yield point and drew a quick stand-in,
// so as not to hold the computation up, gets its full paint afterwards.
class RepaintAfterComputation : public QObject {
    Q_OBJECT
public:
    // One request per widget is pending at a time.
    static void request(QWidget& widget);

private:
    explicit RepaintAfterComputation(QWidget& widget);
    void check();
    QWidget& m_widget;
    QTimer* m_timer;
};
