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
    FlagClockSet = 1u << 5,    // a clock command went out between the pair's two passings
    FlagNoSection = 1u << 6,   // the loop-2 time is not after the loop-1 time
};

// Flags that make an attempt no measurement at all: its two times do not
// belong to one crossing of the section, or were read across a jump of the
// decoder clocks. Such an attempt is only kept for review; it never reaches
// the screen, the board or a best until the operator accepts it.
constexpr unsigned kNotMeasurementFlags =
    FlagNoLoop1 | FlagLongSection | FlagClockSet | FlagNoSection;

inline bool IsMeasurement(unsigned flags) {
    return (flags & kNotMeasurementFlags) == 0;
}

struct PlausibilityLimits {
    double minKmh = 1;
    double maxKmh = 500;
    qint64 doubleReadMs = 500;
    double maxSectionS = 60;
};

// What is known about one attempt when it is measured.
struct AttemptFacts {
    double kmh = 0;       // the speed before truncation
    double elapsedS = 0;  // time2 - time1
    bool hasTime1 = true; // the row has a loop-1 time at all
    bool loop1SincePrevious = true;
    // A clock command went out after the loop-1 passing was received and
    // before the loop-2 passing was.
    bool clockSetBetween = false;
    // Milliseconds between each passing of the pair and the transponder's
    // passing before it on the same loop (PC receive times); negative when
    // there is none.
    qint64 loop1RepeatMs = -1;
    qint64 loop2RepeatMs = -1;
};

unsigned PlausibilityFlags(const AttemptFacts& facts, const PlausibilityLimits& limits);

// The flags in words, in the order of the bits, for lists and exports.
QStringList FlagWords(unsigned flags);
