#pragma once

#include <QString>

// A number in general decimal form: at most 15 significant digits, no
// trailing zeros, no point for a whole number ("36", "14.586", "0");
// scientific with a capital E below 0.0001 or from 1E15 on ("7.2E-6").
QString FloatToStr(double v);
