#include "Csv.h"

#include <QStringView>

QString csvField(const QString& text) {
    // A spreadsheet runs a cell that begins with one of these as a formula;
    // the apostrophe makes it plain text. Every such cell gets it, a
    // negative number included (no export lists one).
    QString v = text;
    if (!v.isEmpty() && QStringView(u"=+-@").contains(v.front()))
        v.prepend(QLatin1Char('\''));
    if (!v.contains(QLatin1Char(',')) && !v.contains(QLatin1Char('"')) &&
        !v.contains(QLatin1Char('\n')) && !v.contains(QLatin1Char('\r')))
        return v;
    QString q = v;
    q.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}
