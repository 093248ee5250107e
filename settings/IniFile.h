#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// A profile (INI) file read and edited in memory. The file is in the Japanese
// code page (Windows-31J) and is kept as bytes: lines the program does not
// change, other sections, comments and line ends included, are written back
// byte for byte. Section and key names compare without regard to case.
class IniFile {
public:
    explicit IniFile(QString path);

    const QString& path() const { return path_; }

    // Reads the file; a missing or unreadable file reads as empty.
    void load();

    // The key's value, trimmed, without a pair of quotes around it; empty
    // when the section or key is missing.
    QString value(const QString& section, const QString& key) const;

    // Sets the key, adding the section and key at their ends when missing.
    void setValue(const QString& section, const QString& key, const QString& value);

    // Writes the whole file atomically (a crash or a full disk never leaves
    // half a file). Returns false, with the system's reason, when it cannot
    // be written.
    bool save(QString* why = nullptr) const;

private:
    struct Line {
        QByteArray bytes; // without the line end
        QByteArray end;   // "\r\n", "\n", or empty for a last line without one
        QString text;     // decoded, for finding sections and keys
    };

    int findSection(const QString& section) const; // index of the [section] line or -1
    int findKey(int sectionLine, const QString& key) const;
    int sectionEnd(int sectionLine) const;
    Line makeLine(const QString& text) const;
    void insertLine(int at, const QString& text);

    QString path_;
    QList<Line> lines_;
    QByteArray lineEnd_ = "\n"; // for new lines: the file's own
};
