#pragma once

#include <QByteArray>
#include <QString>

// km/h over the section: 3600 / e passes per hour times Dist / 100000 km,
// evaluated left to right. The caller only computes it for e > 0.
double ComputeSpeed(double e, int dist);

// The one text of a speed used on screen, as best speed and on the board:
// general decimal form with 15 significant digits, no trailing zeros, no
// point for a whole number, cut (not rounded) after the third decimal. It
// is always plain decimal, never scientific, so that a stored best speed
// always reads back as a number: below 0.0001 km/h it is "0.000". A value
// that is not finite gives "0".
QString SpeedText(double v);

// The speed text as seven characters ddd.ddd, missing leading digits as
// spaces (" 14.586", "  1.200", "144.000"). From 1000 km/h on it is longer
// than seven characters and the board shows only its first seven.
QString PaddedSpeedText(const QString& T);

// The 25-byte board line of a speed text: 8 spaces, c1 c2, space, c3 c5,
// space, c6 c7, 7 spaces, ".", CR, where c1..c7 are the padded text's
// characters. The point (c4) is not sent; from 1000 km/h on the characters
// are taken as they stand.
QByteArray BoardSpeedLine(const QString& T);

// Whether v beats the stored best (its text, empty meaning "0"); v is the
// speed before it was cut to text. A stored text that is not a number (a
// damaged row) counts as "0", so a measured speed replaces it instead of
// leaving the row unprocessable. A v that is not finite never
// becomes a best.
bool IsNewBest(const QString& bestSpeedText, double v);
