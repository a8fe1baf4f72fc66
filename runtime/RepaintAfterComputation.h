#pragma once

class QWidget;

// Has a widget painted again once the work that is letting events run is
// over: a paint that came at a yield point and drew a quick stand-in, so as
// not to hold the work up, gets its full paint afterwards. All the widgets
// asked for are repainted on the one notice that the work is over.
class RepaintAfterComputation {
public:
    static void request(QWidget& widget);
};
