#include "IniFile.h"

#include "WholeFile.h"

#include <QFile>
#include <QStringDecoder>
#include <QStringEncoder>

namespace {

// The settings file is shared with tools that write the Japanese code page.
// Without that converter (a toolkit built without ICU) Latin-1 still keeps
// ASCII keys and numbers readable and every byte intact.
constexpr const char* kCodePage = "windows-31j";

QString decode(const QByteArray& bytes) {
    QStringDecoder dec(kCodePage);
    if (!dec.isValid())
        return QString::fromLatin1(bytes);
    return dec.decode(bytes);
}

QByteArray encode(const QString& text) {
    QStringEncoder enc(kCodePage);
    if (!enc.isValid())
        return text.toLatin1();
    return enc.encode(text);
}

bool isSectionLine(const QString& line, QString* name = nullptr) {
    const QString t = line.trimmed();
    if (!t.startsWith(QLatin1Char('[')))
        return false;
    const int close = t.indexOf(QLatin1Char(']'));
    if (close < 0)
        return false;
    if (name)
        *name = t.mid(1, close - 1).trimmed();
    return true;
}

} // namespace

IniFile::IniFile(QString path) : path_(std::move(path)) {}

void IniFile::load() {
    lines_.clear();
    lineEnd_ = "\n";
    QFile f(path_);
    if (!f.open(QIODevice::ReadOnly))
        return;
    const QByteArray data = f.readAll();
    bool endSeen = false;
    qsizetype from = 0;
    while (from < data.size()) {
        const qsizetype nl = data.indexOf('\n', from);
        Line line;
        if (nl < 0) {
            line.bytes = data.mid(from);
            from = data.size();
        } else {
            const bool crlf = nl > from && data[nl - 1] == '\r';
            line.bytes = data.mid(from, nl - from - (crlf ? 1 : 0));
            line.end = crlf ? QByteArrayLiteral("\r\n") : QByteArrayLiteral("\n");
            from = nl + 1;
            if (!endSeen) {
                lineEnd_ = line.end;
                endSeen = true;
            }
        }
        line.text = decode(line.bytes);
        lines_.append(line);
    }
}

IniFile::Line IniFile::makeLine(const QString& text) const {
    return {encode(text), lineEnd_, text};
}

void IniFile::insertLine(int at, const QString& text) {
    // A last line without its end gets one before anything follows it.
    if (at > 0 && lines_[at - 1].end.isEmpty())
        lines_[at - 1].end = lineEnd_;
    lines_.insert(at, makeLine(text));
}

int IniFile::findSection(const QString& section) const {
    QString name;
    for (int i = 0; i < lines_.size(); ++i)
        if (isSectionLine(lines_[i].text, &name) && name.compare(section, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

int IniFile::sectionEnd(int sectionLine) const {
    int i = sectionLine + 1;
    while (i < lines_.size() && !isSectionLine(lines_[i].text))
        ++i;
    return i;
}

int IniFile::findKey(int sectionLine, const QString& key) const {
    const int end = sectionEnd(sectionLine);
    for (int i = sectionLine + 1; i < end; ++i) {
        const QString& line = lines_[i].text;
        const QString t = line.trimmed();
        if (t.startsWith(QLatin1Char(';')) || t.startsWith(QLatin1Char('#')))
            continue;
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq < 0)
            continue;
        if (line.left(eq).trimmed().compare(key, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

QString IniFile::value(const QString& section, const QString& key) const {
    const int s = findSection(section);
    if (s < 0)
        return {};
    const int k = findKey(s, key);
    if (k < 0)
        return {};
    const QString& line = lines_[k].text;
    QString v = line.mid(line.indexOf(QLatin1Char('=')) + 1).trimmed();
    // As the profile service reads it: quotes around the whole value are
    // not part of it.
    if (v.size() >= 2 && (v.front() == QLatin1Char('"') || v.front() == QLatin1Char('\'')) &&
        v.back() == v.front())
        v = v.mid(1, v.size() - 2);
    return v;
}

void IniFile::setValue(const QString& section, const QString& key, const QString& value) {
    int s = findSection(section);
    if (s < 0) {
        if (!lines_.isEmpty() && !lines_.last().text.trimmed().isEmpty())
            insertLine(int(lines_.size()), QString());
        insertLine(int(lines_.size()), QLatin1Char('[') + section + QLatin1Char(']'));
        insertLine(int(lines_.size()), key + QLatin1Char('=') + value);
        return;
    }
    const int k = findKey(s, key);
    if (k >= 0) {
        // The key keeps its own spelling and the line its own end. "=" is
        // never the second byte of a double-byte character, so the first
        // "=" byte is the separator.
        Line& line = lines_[k];
        line.bytes = line.bytes.left(line.bytes.indexOf('=') + 1) + encode(value);
        line.text = line.text.left(line.text.indexOf(QLatin1Char('=')) + 1) + value;
        return;
    }
    // Append after the section's last non-blank line, so a blank separator
    // line before the next section stays where it is.
    int at = sectionEnd(s);
    while (at > s + 1 && lines_[at - 1].text.trimmed().isEmpty())
        --at;
    insertLine(at, key + QLatin1Char('=') + value);
}

bool IniFile::save(QString* why) const {
    QByteArray data;
    for (const Line& line : lines_) {
        data += line.bytes;
        data += line.end;
    }
    return WholeFile::write(path_, data, why);
}
