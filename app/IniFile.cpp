#include "IniFile.h"

#include <QFile>
#include <QSaveFile>

IniFile::IniFile(QString path) : path_(std::move(path)) {}

void IniFile::load() {
    lines_.clear();
    QFile f(path_);
    if (!f.open(QIODevice::ReadOnly))
        return;
    const QByteArray data = f.readAll();
    QString text = QString::fromUtf8(data);
    text.remove(QLatin1Char('\r'));
    lines_ = text.split(QLatin1Char('\n'));
    if (!lines_.isEmpty() && lines_.last().isEmpty())
        lines_.removeLast();
}

static bool isSectionLine(const QString& line, QString* name = nullptr) {
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

int IniFile::findSection(const QString& section) const {
    QString name;
    for (int i = 0; i < lines_.size(); ++i)
        if (isSectionLine(lines_[i], &name) && name.compare(section, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

int IniFile::sectionEnd(int sectionLine) const {
    int i = sectionLine + 1;
    while (i < lines_.size() && !isSectionLine(lines_[i]))
        ++i;
    return i;
}

int IniFile::findKey(int sectionLine, const QString& key) const {
    const int end = sectionEnd(sectionLine);
    for (int i = sectionLine + 1; i < end; ++i) {
        const QString& line = lines_[i];
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
    const QString& line = lines_[k];
    return line.mid(line.indexOf(QLatin1Char('=')) + 1).trimmed();
}

void IniFile::setValue(const QString& section, const QString& key, const QString& value) {
    int s = findSection(section);
    if (s < 0) {
        if (!lines_.isEmpty() && !lines_.last().trimmed().isEmpty())
            lines_.append(QString());
        lines_.append(QLatin1Char('[') + section + QLatin1Char(']'));
        lines_.append(key + QLatin1Char('=') + value);
        return;
    }
    const int k = findKey(s, key);
    if (k >= 0) {
        const QString& line = lines_[k];
        lines_[k] = line.left(line.indexOf(QLatin1Char('='))) + QLatin1Char('=') + value;
        return;
    }
    // Append after the section's last non-blank line, so a blank separator
    // line before the next section stays where it is.
    int at = sectionEnd(s);
    while (at > s + 1 && lines_[at - 1].trimmed().isEmpty())
        --at;
    lines_.insert(at, key + QLatin1Char('=') + value);
}

bool IniFile::save() const {
    QSaveFile f(path_);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    QByteArray data;
    for (const QString& line : lines_) {
        data += line.toUtf8();
        data += '\n';
    }
    if (f.write(data) != data.size())
        return false;
    return f.commit();
}
