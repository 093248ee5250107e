#pragma once

#include "Journal.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// A passing on its way to the speed table.
// It keeps the time it was received, also while it waits.
struct QueuedPassing {
    int loop = 0;
    QString tpid;
    QString time;
    qint64 receivedMs = 0; // PC time, UTC milliseconds
    QByteArray raw;        // the line's bytes as received
};

// A pending row that was measured (its speed shown and sent) while the
// database would not take its attempt and processed mark: they wait to be
// stored, and the row is not measured again meanwhile.
struct MeasuredRow {
    QString tpid;
    double time2 = 0; // with tpid, the row as it was measured
    std::optional<Journal::Attempt> attempt;
    QString newBest; // the row's new best speed as text; empty: the best stays
    // The class the attempt was measured in; not kept in the spill file.
    Journal::AttemptClass attemptClass;
};

// What the spill file holds, in the order it was written.
struct SpillContents {
    QList<MeasuredRow> measured;
    QList<QueuedPassing> passings;
    qsizetype skippedLines = 0; // complete lines that do not parse
};

// "Korvane.pending" beside the database: what could not be stored at a
// close, kept for the next start. Plain text, one record a line, each ended
// by LF, only ever appended to:
//
//   KORVANE-PENDING 1                          first line
//   P <received ms> <loop> <tpid> <time> <raw>  a passing
//   M <tpid> <time2> <new best> <attempt>      a measured row
//
// where <attempt> is "-" or "<passing1>,<passing2>,<time1>,<time2>,<dist cm>,
// <speed>,<speed text>,<flags>,<status>,<measured ms>". Texts are
// percent-encoded UTF-8 ("-" for an empty one), so that a decoder line stays
// readable. A last line without its LF (a killed writer) is left out.
//
// Beside it, "Korvane.reserve" holds space for it on the same file system:
// on a full disk nothing else could be written, and a close would lose what
// waits. It is given back just before the spill file is written.
class SpillFile {
public:
    explicit SpillFile(const QString& databasePath);

    const QString& path() const { return path_; }
    bool exists() const;

    // Appends the records and syncs them (and the folder, for a new file).
    // False with the system's reason when they did not all reach the disk.
    bool append(const QList<MeasuredRow>& measured, const QList<QueuedPassing>& passings,
                QString* why);
    // False with a reason when the file is there but cannot be read or is
    // not a spill file.
    bool read(SpillContents& out, QString* why) const;
    bool remove(QString* why);

    // Makes sure the reserve is there (as far as the disk has room), or gives
    // it back.
    void keepReserve();
    void releaseReserve();
    QString reservePath() const { return reservePath_; }

    static QByteArray passingLine(const QueuedPassing& p);
    static QByteArray measuredLine(const MeasuredRow& m);

private:
    QString path_;
    QString reservePath_;
};
