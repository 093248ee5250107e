#pragma once

#include <QString>
#include <QStringList>

// Flags that mark an attempt as suspect. The attempt is always kept; the
// operator decides what a flag means for that run.
enum PlausibilityFlag : unsigned {
    FlagTooSlow = 1u << 0,     // below the lowest believable speed
    FlagTooFast = 1u << 1,     // above the highest believable speed
    FlagNoLoop1 = 1u << 2,     // no loop-1 passing since the transponder's previous attempt
    FlagDoubleRead = 1u << 3,  // a passing of the pair came right after another on the same loop
    FlagLongSection = 1u << 4, // longer in the section than a car takes
};

struct PlausibilityLimits {
    double minKmh = 1;
    double maxKmh = 500;
    qint64 doubleReadMs = 500;
    double maxSectionS = 60;
};

// What is known about one attempt when it is measured.
struct AttemptFacts {
    double kmh = 0;      // the speed before truncation
    double elapsedS = 0; // time2 - time1
    bool loop1SincePrevious = true;
    // Milliseconds between each passing of the pair and the transponder's
    // passing before it on the same loop (PC receive times); negative when
    // there is none.
    qint64 loop1RepeatMs = -1;
    qint64 loop2RepeatMs = -1;
};

unsigned PlausibilityFlags(const AttemptFacts& facts, const PlausibilityLimits& limits);

// The flags in words, in the order of the bits, for lists and exports.
QStringList FlagWords(unsigned flags);
