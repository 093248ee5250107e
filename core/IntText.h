#pragma once

#include <QString>

// Integer text as the settings file and every numeric box take it: optional
// leading blanks, an optional sign, then decimal digits or "$" and up to
// eight hexadecimal digits (which wrap to a signed 32-bit value). Anything
// else, an empty text or a decimal out of the 32-bit range, fails.
//
// Header-only and Qt Core only: the spin edit and the settings (StrToInt,
// profileInt) read numbers by the same rules, and neither needs the other
// for it.
inline bool tryStrToInt(const QString& text, int& out) {
    int i = 0;
    const int n = text.size();
    while (i < n && text[i] == QLatin1Char(' '))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    if (i < n && text[i] == QLatin1Char('$')) {
        ++i;
        const int digits = n - i;
        if (digits < 1 || digits > 8)
            return false;
        quint32 v = 0;
        for (; i < n; ++i) {
            const char16_t c = text[i].unicode();
            int d;
            if (c >= u'0' && c <= u'9')
                d = c - u'0';
            else if (c >= u'a' && c <= u'f')
                d = c - u'a' + 10;
            else if (c >= u'A' && c <= u'F')
                d = c - u'A' + 10;
            else
                return false;
            v = v * 16 + quint32(d);
        }
        out = int(negative ? quint32(0) - v : v);
        return true;
    }
    if (i >= n)
        return false;
    qint64 v = 0;
    for (; i < n; ++i) {
        const QChar c = text[i];
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
        v = v * 10 + (c.unicode() - '0');
        if (v > qint64(2147483648LL))
            return false;
    }
    if (negative)
        v = -v;
    if (v > 2147483647LL || v < -2147483648LL)
        return false;
    out = int(v);
    return true;
}
