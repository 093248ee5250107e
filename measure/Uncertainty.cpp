#include "Uncertainty.h"

#include <algorithm>
#include <cmath>

SpeedUncertainty ExpandedUncertainty(const UncertaintyInputs& in, double kmh) {
    SpeedUncertainty u;
    if (in.distCm <= 0 || !(in.elapsedS > 0) || !std::isfinite(kmh))
        return u;
    const double lengthM = in.distCm / 100.0;
    const double uLengthRel = in.toleranceMm / 1000.0 / lengthM;
    const double t1 = in.resolution1S / std::sqrt(3.0);
    const double t2 = in.resolution2S / std::sqrt(3.0);
    const double boundS = std::max(std::abs(in.offsetMs), std::abs(in.driftMs)) / 1000.0;
    const double spreadS = in.offsetSpreadMs / 1000.0;
    const double clock2 = boundS * boundS / 3.0 + spreadS * spreadS;
    const double uElapsed = std::sqrt(t1 * t1 + t2 * t2 + clock2);
    const double uElapsedRel = uElapsed / in.elapsedS;
    const double rel = std::sqrt(uLengthRel * uLengthRel + uElapsedRel * uElapsedRel);
    u.known = true;
    u.percent = 2 * rel * 100;
    u.kmh = 2 * rel * std::abs(kmh);
    return u;
}

double TimeResolution(const QString& timeField) {
    const QString t = timeField.trimmed();
    bool ok = false;
    t.toDouble(&ok);
    if (!ok)
        return 0;
    const qsizetype point = t.indexOf(QLatin1Char('.'));
    if (point < 0)
        return 1;
    qsizetype digits = 0;
    while (point + 1 + digits < t.size() && t[point + 1 + digits].isDigit())
        ++digits;
    return std::pow(10.0, -double(digits));
}

QString UncertaintyText(double kmh) {
    // A hair under the next hundredth stays there: 0.3100000001 is 0.31.
    const double up = std::ceil(kmh * 100 - 1e-6) / 100;
    return QString::number(std::max(0.0, up), 'f', 2);
}
