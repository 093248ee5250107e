#include "Plausibility.h"

unsigned PlausibilityFlags(const AttemptFacts& f, const PlausibilityLimits& l) {
    unsigned flags = 0;
    // Without a positive section time there is no speed to judge.
    if (f.elapsedS > 0 && f.kmh < l.minKmh)
        flags |= FlagTooSlow;
    if (f.elapsedS > 0 && f.kmh > l.maxKmh)
        flags |= FlagTooFast;
    if (!(f.elapsedS > 0))
        flags |= FlagNoSection;
    if (!f.loop1SincePrevious || !f.hasTime1)
        flags |= FlagNoLoop1;
    if (f.clockSetBetween)
        flags |= FlagClockSet;
    const auto doubled = [&](qint64 gap) { return gap >= 0 && gap < l.doubleReadMs; };
    if (doubled(f.loop1RepeatMs) || doubled(f.loop2RepeatMs))
        flags |= FlagDoubleRead;
    if (f.elapsedS > l.maxSectionS)
        flags |= FlagLongSection;
    return flags;
}

QStringList FlagWords(unsigned flags) {
    // Marked for the translation of the history page, which shows them.
    static const struct {
        unsigned bit;
        const char* word;
    } kWords[] = {
        {FlagTooSlow, QT_TRANSLATE_NOOP("HistoryModel", "低速")},
        {FlagTooFast, QT_TRANSLATE_NOOP("HistoryModel", "高速")},
        {FlagNoLoop1, QT_TRANSLATE_NOOP("HistoryModel", "ループ1なし")},
        {FlagDoubleRead, QT_TRANSLATE_NOOP("HistoryModel", "二重読み")},
        {FlagLongSection, QT_TRANSLATE_NOOP("HistoryModel", "区間超過")},
        {FlagClockSet, QT_TRANSLATE_NOOP("HistoryModel", "時計設定")},
        {FlagNoSection, QT_TRANSLATE_NOOP("HistoryModel", "区間時間なし")},
    };
    QStringList out;
    for (const auto& w : kWords)
        if (flags & w.bit)
            out << QString::fromUtf8(w.word);
    return out;
}
