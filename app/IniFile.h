#pragma once

#include <QString>
#include <QStringList>

// A profile (INI) file read and edited in memory. Lines the program does not
// change, other sections and comments included, are written back exactly as
// they were read. Section and key names compare without regard to case.
class IniFile {
public:
    explicit IniFile(QString path);

    const QString& path() const { return path_; }

    // Reads the file; a missing or unreadable file reads as empty.
    void load();

    // The key's value, trimmed; empty when the section or key is missing.
    QString value(const QString& section, const QString& key) const;

    // Sets the key, adding the section and key at their ends when missing.
    void setValue(const QString& section, const QString& key, const QString& value);

    // Writes the whole file atomically (a crash never leaves half a file).
    // Returns false when it cannot be written.
    bool save() const;

private:
    int findSection(const QString& section) const;  // index of the [section] line or -1
    int findKey(int sectionLine, const QString& key) const;
    int sectionEnd(int sectionLine) const;

    QString path_;
    QStringList lines_;
};
