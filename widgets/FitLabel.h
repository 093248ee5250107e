#pragma once

#include <QFont>
#include <QLabel>

// A one-line label in large type that shrinks its text to fit rather than
// cut it off at both ends: the text is drawn in the label's font when it
// fits the label's width, otherwise in the largest pixel size that does.
// The label's own font stays as set, so a shorter text later is drawn full
// size again.
class TFitLabel : public QLabel {
public:
    using QLabel::QLabel;

    // The font the current text is drawn in.
    QFont shownFont() const;

protected:
    void paintEvent(QPaintEvent* e) override;
};
