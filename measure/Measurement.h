#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The oldest pending passing pair of the speed table.
struct PendingPassing {
    QString tpid;
    double time1 = 0;
    double time2 = 0;
    QString bestSpeed = QStringLiteral("0"); // the stored best as text, "0" when empty
    bool convertible = true; // false when a passing time is no number
};

// What one processed passing pair gives.
struct SpeedResult {
    bool measured = false; // a positive elapsed time: shown, sent, maybe recorded
    double v = 0;          // km/h before truncation
    QString text;          // the speed text shown, stored and sent
    QByteArray boardLine;  // the 25-byte line for the board
    bool newBest = false;
};

// The pending row (sumi '0', non-empty ID) with the smallest time2, if any.
// A row whose passing times do not read as numbers is returned with
// convertible false, so that it can be marked processed and never blocks the
// queue (a best speed that is no number counts as 0 and gets replaced).
// Raises DbError on a database failure.
std::optional<PendingPassing> NextPending();

// The speed over a section of dist centimetres, its texts, and whether it
// beats the stored best.
SpeedResult EvaluatePassing(const PendingPassing& p, int dist);

// Marks the row processed; with a new best, stores its text as the best speed.
void MarkProcessed(const QString& tpid, const SpeedResult& r);
