#include "Names.h"

#include <QCoreApplication>
#include <QStringEncoder>

namespace {

// The Windows Japanese code page (Windows-31J), as the stored names and the
// station's other programs use it.
QStringEncoder shiftJis() {
    return QStringEncoder("windows-31j");
}

// Qt's converter holds the Windows code page strictly: five of its
// characters exist only in their Windows code points, while a Linux input
// method types the standard ones. Windows itself converts those to the same
// double-byte characters, so they are measured as these.
QString windowsForms(const QString& name) {
    QString out = name;
    for (QChar& c : out) {
        switch (c.unicode()) {
        case 0x301C:
            c = QChar(0xFF5E);
            break; // wave dash -> fullwidth tilde
        case 0x2212:
            c = QChar(0xFF0D);
            break; // minus sign -> fullwidth hyphen-minus
        case 0x2016:
            c = QChar(0x2225);
            break; // double vertical line -> parallel to
        case 0x00AC:
            c = QChar(0xFFE2);
            break; // not sign -> fullwidth not sign
        case 0x2014:
            c = QChar(0x2015);
            break; // em dash -> horizontal bar
        default:
            break;
        }
    }
    return out;
}

// The first character (a whole surrogate pair where there is one) that
// Shift-JIS cannot hold.
QString firstUnencodable(const QString& name) {
    for (qsizetype i = 0; i < name.size();) {
        const qsizetype len = name.at(i).isHighSurrogate() && i + 1 < name.size() ? 2 : 1;
        const QString ch = name.mid(i, len);
        QStringEncoder enc = shiftJis();
        const QByteArray bytes =
            enc.encode(windowsForms(ch)); // encode() is lazy: convert to run it
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
    const QByteArray bytes = enc.encode(windowsForms(name));
    if (enc.hasError())
        return -1;
    return int(bytes.size());
}

QString nameProblem(const QString& name) {
    if (!shiftJis().isValid())
        return QCoreApplication::translate(
            "Names", "文字コード Shift_JIS が使用できないため、名前を登録できません。");
    const int bytes = shiftJisLength(name);
    if (bytes < 0) {
        const QString ch = firstUnencodable(name);
        const char32_t code = ch.size() == 2 ? QChar::surrogateToUcs4(ch.at(0), ch.at(1))
                                             : (ch.isEmpty() ? 0 : ch.at(0).unicode());
        return QCoreApplication::translate("Names",
                                           "名前に使用できない文字「%1」(U+%2) が含まれています。")
            .arg(ch,
                 QString::number(quint32(code), 16).toUpper().rightJustified(4, QLatin1Char('0')));
    }
    if (bytes > kMaxNameBytes)
        return QCoreApplication::translate(
                   "Names",
                   "名前が長すぎます（%1バイト）。半角%2文字（全角%3文字）以内で入力してください。")
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
