#include "Plausibility.h"

unsigned PlausibilityFlags(const AttemptFacts& f, const PlausibilityLimits& l) {
    unsigned flags = 0;
    if (f.kmh < l.minKmh)
        flags |= FlagTooSlow;
    if (f.kmh > l.maxKmh)
        flags |= FlagTooFast;
    if (!f.loop1SincePrevious)
        flags |= FlagNoLoop1;
    const auto doubled = [&](qint64 gap) { return gap >= 0 && gap < l.doubleReadMs; };
    if (doubled(f.loop1RepeatMs) || doubled(f.loop2RepeatMs))
        flags |= FlagDoubleRead;
    if (f.elapsedS > l.maxSectionS)
        flags |= FlagLongSection;
    return flags;
}

QStringList FlagWords(unsigned flags) {
    static const struct {
        unsigned bit;
        const char16_t* word;
    } kWords[] = {
        {FlagTooSlow, u"低速"},         {FlagTooFast, u"高速"},
        {FlagNoLoop1, u"ループ1なし"},  {FlagDoubleRead, u"二重読み"},
        {FlagLongSection, u"区間超過"},
    };
    QStringList out;
    for (const auto& w : kWords)
        if (flags & w.bit)
            out << QString::fromUtf16(w.word);
    return out;
}
