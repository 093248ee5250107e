#pragma once

#include <QByteArray>
#include <QString>

// The oldest pending passing pair of the speed table (the head of its queue,
// SpeedTable::nextPending), as plain values.
struct PendingPassing {
    QString tpid;
    double time1 = 0;
    double time2 = 0;
    QString bestSpeed = QStringLiteral("0"); // the stored best as text, "0" when empty
    bool convertible = true;                 // false when a passing time is no number
};

// What one processed passing pair gives.
struct SpeedResult {
    bool measured = false; // a positive elapsed time: shown, sent, maybe recorded
    double v = 0;          // km/h before truncation
    QString text;          // the speed text shown, stored and sent
    QByteArray boardLine;  // the 25-byte line for the board
    bool newBest = false;
};

// The speed over a section of dist centimetres, its texts, and whether it
// beats the stored best. A row that is not convertible measures nothing (it
// is then only marked processed, so it never blocks the queue); a best speed
// that is no number counts as 0 and gets replaced.
SpeedResult EvaluatePassing(const PendingPassing& p, int dist);
