#include "SpeedText.h"

#include "NumberText.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

double ComputeSpeed(double e, int dist) {
    return 3600.0 / e * dist / 100000.0;
}

namespace {
// "%.15g" gives 15 significant digits without trailing zeros, but switches
// to an exponent from 1E15 on; spell such a value out in full.
QString plainGeneral(double a) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", a);
    QString s = QString::fromLatin1(buf);
    const int e = s.indexOf(QLatin1Char('e'));
    if (e < 0)
        return s;
    const int exponent = s.mid(e + 1).toInt();
    QString digits = s.left(e);
    const int point = digits.indexOf(QLatin1Char('.'));
    const int intDigits = point < 0 ? digits.size() : point;
    digits.remove(QLatin1Char('.'));
    const int zeros = intDigits + exponent - digits.size();
    return digits + QString(qMax(0, zeros), QLatin1Char('0'));
}
} // namespace

QString SpeedText(double v) {
    if (!std::isfinite(v) || v == 0.0)
        return QStringLiteral("0");
    const bool negative = v < 0;
    const double a = std::fabs(v);
    QString s = a < 0.0001 ? QStringLiteral("0.000") : plainGeneral(a);
    const int point = s.indexOf(QLatin1Char('.'));
    if (point >= 0)
        s.truncate(qMin(s.size(), point + 4));
    return negative ? QLatin1Char('-') + s : s;
}

QString PaddedSpeedText(const QString& T) {
    QString t = T;
    if (!t.contains(QLatin1Char('.')))
        t += QStringLiteral(".000");
    int point = t.indexOf(QLatin1Char('.'));
    if (point > 0) {
        const int after = t.size() - point - 1;
        if (after == 1)
            t += QStringLiteral("00");
        else if (after == 2)
            t += QLatin1Char('0');
    }
    point = t.indexOf(QLatin1Char('.'));
    if (point == 1)
        t.prepend(QStringLiteral("  "));
    else if (point == 2)
        t.prepend(QLatin1Char(' '));
    return t;
}

QByteArray BoardSpeedLine(const QString& T) {
    // Padded to at least seven so a malformed text still gives 25 bytes.
    const QByteArray c = PaddedSpeedText(T).toLatin1().leftJustified(7, ' ');
    QByteArray line(8, ' ');
    line += c.mid(0, 2);
    line += ' ';
    line += c.at(2);
    line += c.at(4);
    line += ' ';
    line += c.mid(5, 2);
    line += QByteArray(7, ' ');
    line += ".\r";
    return line;
}

bool IsNewBest(const QString& bestSpeedText, double v) {
    if (!std::isfinite(v))
        return false;
    const QString text = bestSpeedText.trimmed();
    if (text.isEmpty())
        return 0.0 < v;
    const std::optional<double> best = TextToFloat(text);
    if (!best)
        return 0.0 < v;
    return *best < v;
}
