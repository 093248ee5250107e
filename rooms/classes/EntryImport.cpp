#include "EntryImport.h"

#include "Csv.h"
#include "Names.h"

#include <QCoreApplication>
#include <QStringDecoder>

namespace {

enum Column { ColClass, ColId, ColName, ColNumber, ColumnCount };

int columnNamed(const QString& text) {
    const QString n = text.trimmed().toLower();
    if (n == QLatin1String("class") || n == QStringLiteral("クラス"))
        return ColClass;
    if (n == QLatin1String("id") || n == QLatin1String("tpid") ||
        n == QStringLiteral("ﾄﾗﾝｽﾎﾟﾝﾀﾞｰid") || n == QStringLiteral("トランスポンダーid"))
        return ColId;
    if (n == QLatin1String("name") || n == QStringLiteral("名前"))
        return ColName;
    if (n == QLatin1String("number") || n == QStringLiteral("番号"))
        return ColNumber;
    return -1;
}

// A line in the given encoding; nullopt-like empty flag when its bytes do
// not read in it.
bool decode(const QByteArray& bytes, bool shiftJis, QString* out) {
    QStringDecoder d = shiftJis
                           ? QStringDecoder("windows-31j")
                           : QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    *out = d.decode(bytes);
    // The library replaces a byte it cannot read and does not always say so.
    return !d.hasError() && !out->contains(QChar::ReplacementCharacter);
}

bool ascii(const QByteArray& bytes) {
    for (char c : bytes)
        if (uchar(c) >= 0x80)
            return false;
    return true;
}

// Fields of one line: commas outside double quotes part them, "" inside
// quotes is a quote. False when a quote is left open.
bool fields(const QString& line, QStringList* out) {
    out->clear();
    QString field;
    bool quoted = false;
    for (int i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < line.size() && line[i + 1] == QLatin1Char('"')) {
                field += c;
                ++i;
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            *out << field;
            field.clear();
        } else {
            field += c;
        }
    }
    *out << field;
    return !quoted;
}

bool looksLikeFormula(const QString& text) {
    return !text.isEmpty() && QStringLiteral("=+-@").contains(text.front());
}

} // namespace

int EntryImport::Preview::goodCount() const {
    if (!fileProblem.isEmpty())
        return 0;
    int n = 0;
    for (const Line& l : lines)
        n += l.problem.isEmpty() ? 1 : 0;
    return n;
}

QVector<ClassStore::NewEntry> EntryImport::Preview::goodEntries() const {
    QVector<ClassStore::NewEntry> out;
    if (!fileProblem.isEmpty())
        return out;
    for (const Line& l : lines)
        if (l.problem.isEmpty())
            out << l.entry;
    return out;
}

EntryImport::Preview EntryImport::preview(const QByteArray& file,
                                          const QHash<QString, QSet<QString>>& entered) {
    Preview p;
    QByteArray bytes = file;
    const bool bom = bytes.startsWith("\xEF\xBB\xBF");
    if (bom)
        bytes.remove(0, 3);
    QList<QByteArray> raw = bytes.split('\n');
    for (QByteArray& r : raw)
        if (r.endsWith('\r'))
            r.chop(1);

    // The file's encoding is the one most of its non-ASCII lines read in; a
    // byte order mark settles it.
    bool shiftJis = false;
    if (!bom) {
        int utf8 = 0, sjis = 0;
        QString ignored;
        for (const QByteArray& r : std::as_const(raw)) {
            if (ascii(r))
                continue;
            utf8 += decode(r, false, &ignored) ? 1 : 0;
            sjis += decode(r, true, &ignored) ? 1 : 0;
        }
        shiftJis = sjis > utf8;
    }
    p.encoding = shiftJis ? QStringLiteral("Shift-JIS") : QStringLiteral("UTF-8");

    int columns[ColumnCount] = {ColClass, ColId, ColName, ColNumber};
    int width = ColumnCount;
    bool first = true;
    QHash<QString, QHash<QString, int>> seen; // class -> ID -> line
    for (int i = 0; i < raw.size(); ++i) {
        const int lineNo = i + 1;
        if (raw[i].trimmed().isEmpty())
            continue;
        QString text;
        Line l;
        l.line = lineNo;
        if (!decode(raw[i], shiftJis, &text)) {
            l.problem = QCoreApplication::translate("ClassesRoom",
                                                    "文字コードが読めません（%1 ではありません）")
                            .arg(p.encoding);
            p.lines << l;
            first = false;
            continue;
        }
        QStringList f;
        const bool closed = fields(text, &f);
        if (first) {
            first = false;
            // A first line that names a known column names them all.
            bool named = false;
            for (const QString& name : std::as_const(f))
                named = named || columnNamed(name) >= 0;
            if (named) {
                std::fill(std::begin(columns), std::end(columns), -1);
                width = int(f.size());
                QStringList unknown;
                for (int c = 0; c < f.size(); ++c) {
                    const int col = columnNamed(f[c]);
                    if (col < 0 || columns[col] >= 0)
                        unknown << f[c];
                    else
                        columns[col] = c;
                }
                if (!unknown.isEmpty())
                    p.fileProblem =
                        QCoreApplication::translate("ClassesRoom", "%1 行目: 不明な列 %2")
                            .arg(lineNo)
                            .arg(unknown.join(u'、'));
                else if (columns[ColClass] < 0 || columns[ColId] < 0)
                    p.fileProblem = QCoreApplication::translate("ClassesRoom",
                                                                "%1 行目: クラスとIDの列が必要です")
                                        .arg(lineNo);
                continue;
            }
        }
        const auto at = [&](Column c) {
            return columns[c] >= 0 && columns[c] < f.size() ? f[columns[c]].trimmed() : QString();
        };
        l.entry = {at(ColClass), at(ColId), at(ColName), at(ColNumber)};
        const QString problem = nameProblem(l.entry.name);
        if (!closed)
            l.problem = QCoreApplication::translate("ClassesRoom", "引用符が閉じていません");
        else if (f.size() > width)
            l.problem =
                QCoreApplication::translate("ClassesRoom", "不明な列があります（%1 列、%2 列まで）")
                    .arg(f.size())
                    .arg(width);
        else if (l.entry.className.isEmpty())
            l.problem = QCoreApplication::translate("ClassesRoom", "クラスが空です");
        else if (l.entry.tpid.isEmpty())
            l.problem = QCoreApplication::translate("ClassesRoom", "IDが空です");
        else if (!problem.isEmpty())
            l.problem = problem;
        else if (entered.value(l.entry.className).contains(l.entry.tpid))
            l.problem = QCoreApplication::translate(
                            "ClassesRoom", "ID %1 はクラス %2 にすでにエントリーしています")
                            .arg(l.entry.tpid, l.entry.className);
        else if (const int before = seen.value(l.entry.className).value(l.entry.tpid); before > 0)
            l.problem = QCoreApplication::translate("ClassesRoom",
                                                    "ID %1 はクラス %2 に重複しています（%3 行目）")
                            .arg(l.entry.tpid, l.entry.className)
                            .arg(before);
        if (l.problem.isEmpty()) {
            seen[l.entry.className].insert(l.entry.tpid, lineNo);
            if (looksLikeFormula(l.entry.name))
                l.note = QCoreApplication::translate(
                    "ClassesRoom",
                    "式のような名前です。そのまま登録し、書き出しでは先頭に ' を付けます");
        }
        p.lines << l;
    }
    return p;
}

QByteArray EntryImport::entriesCsv(const QVector<ClassStore::RaceClass>& classes,
                                   const QVector<ClassStore::Entry>& entries) {
    QHash<qint64, QString> className;
    for (const ClassStore::RaceClass& c : classes)
        className.insert(c.id, c.name);
    // The byte order mark makes spreadsheets on Japanese systems read UTF-8.
    QString text = QStringLiteral("\uFEFFクラス,ID,名前,番号\r\n");
    for (const ClassStore::RaceClass& c : classes)
        for (const ClassStore::Entry& e : entries)
            if (e.classId == c.id)
                text += csvField(c.name) + u',' + csvField(e.tpid) + u',' + csvField(e.name) +
                        u',' + csvField(e.number) + QLatin1String("\r\n");
    return text.toUtf8();
}
