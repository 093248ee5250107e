#pragma once

#include <QString>

// One field of the program's CSV exports: quoted where a comma, quote or line
// break requires it, and with an apostrophe before a field that begins with
// "=", "+", "-" or "@".
QString csvField(const QString& text);
