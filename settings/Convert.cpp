#include "Convert.h"

#include <QCoreApplication>

int StrToInt(const QString& text) {
    int v = 0;
    if (!tryStrToInt(text, v))
        throw KorvaneError(
            QCoreApplication::translate("TFkorvane", "'%1' は整数ではありません").arg(text));
    return v;
}

int profileInt(const QString& text, int defaultValue) {
    QString t = text;
    if (t.size() > 2 && t[0] == QLatin1Char('0') &&
        (t[1] == QLatin1Char('x') || t[1] == QLatin1Char('X')))
        t = QLatin1Char('$') + t.mid(2);
    int v = 0;
    return tryStrToInt(t, v) ? v : defaultValue;
}
