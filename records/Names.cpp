#include "Names.h"

#include <QStringEncoder>

namespace {

QStringEncoder shiftJis() { return QStringEncoder("Shift_JIS"); }

// The first character (a whole surrogate pair where there is one) that
// Shift-JIS cannot hold.
QString firstUnencodable(const QString& name) {
    for (qsizetype i = 0; i < name.size();) {
        const qsizetype len = name.at(i).isHighSurrogate() && i + 1 < name.size() ? 2 : 1;
        const QString ch = name.mid(i, len);
        QStringEncoder enc = shiftJis();
        const QByteArray bytes = enc.encode(ch); // encode() is lazy: convert to run it
        Q_UNUSED(bytes);
        if (enc.hasError())
            return ch;
        i += len;
    }
    return {};
}

} // namespace

int shiftJisLength(const QString& name) {
    QStringEncoder enc = shiftJis();
    if (!enc.isValid())
        return -1;
    const QByteArray bytes = enc.encode(name);
    if (enc.hasError())
        return -1;
    return int(bytes.size());
}

QString nameProblem(const QString& name) {
    if (!shiftJis().isValid())
        return QStringLiteral("文字コード Shift_JIS が使用できないため、名前を登録できません。");
    const int bytes = shiftJisLength(name);
    if (bytes < 0) {
        const QString ch = firstUnencodable(name);
        const char32_t code = ch.size() == 2 ? QChar::surrogateToUcs4(ch.at(0), ch.at(1))
                                             : (ch.isEmpty() ? 0 : ch.at(0).unicode());
        return QStringLiteral("名前に使用できない文字「%1」(U+%2) が含まれています。")
            .arg(ch, QString::number(quint32(code), 16).toUpper().rightJustified(4, QLatin1Char('0')));
    }
    if (bytes > kMaxNameBytes)
        return QStringLiteral("名前が長すぎます（%1バイト）。半角%2文字（全角%3文字）以内で入力してください。")
            .arg(bytes)
            .arg(kMaxNameBytes)
            .arg(kMaxNameBytes / 2);
    return {};
}

void checkName(const QString& name) {
    const QString problem = nameProblem(name);
    if (!problem.isEmpty())
        throw RecordError(problem);
}
