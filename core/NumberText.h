#pragma once

#include <QString>
#include <QStringView>

#include <cmath>
#include <optional>

// The one rule for a number held as text (passing times, best speeds): an
// optional sign, digits with at most one point among them (at least one
// digit), an optional exponent ("e" or "E", optional sign, digits), and a
// finite value. Spaces around it are ignored. "inf", "nan", "Infinity",
// "0x10", "1,5" and "1e999" are no numbers.
inline std::optional<double> TextToFloat(QStringView text) {
    text = text.trimmed();
    qsizetype i = 0;
    const qsizetype n = text.size();
    const auto isDigit = [&](qsizetype at) {
        return at < n && text[at] >= u'0' && text[at] <= u'9';
    };
    if (i < n && (text[i] == u'+' || text[i] == u'-'))
        ++i;
    qsizetype digits = 0;
    while (isDigit(i)) {
        ++i;
        ++digits;
    }
    if (i < n && text[i] == u'.') {
        ++i;
        while (isDigit(i)) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0)
        return std::nullopt;
    if (i < n && (text[i] == u'e' || text[i] == u'E')) {
        ++i;
        if (i < n && (text[i] == u'+' || text[i] == u'-'))
            ++i;
        if (!isDigit(i))
            return std::nullopt;
        while (isDigit(i))
            ++i;
    }
    if (i != n)
        return std::nullopt;
    bool ok = false;
    const double v = text.toString().toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    return v;
}

// A number read from the database: a text by the rule above, a stored real
// only when finite.
inline std::optional<double> FiniteFloat(double v) {
    return std::isfinite(v) ? std::optional<double>(v) : std::nullopt;
}
