#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QPair>
#include <QString>

// A capture: the bytes the decoders sent, chunk by chunk as they were read,
// with the PC time of each read, so that a session can be fed again through
// the receive, store and measuring code (korvane-replay).
//
// The file is text, one record a line, each ended by LF:
//
//   KORVANE-CAPTURE 1                   first line of the file
//   S <ms> <key>=<value>                a setting in force from then on
//                                       (Dist, Wait, MinKmh, MaxKmh,
//                                       DoubleReadMs, MaxSectionS, HoldSuspect)
//   D <ms> <loop> <n> <bytes>           a chunk of n bytes read from decoder
//                                       1 or 2
//
// <ms> is the PC time of the read, UTC milliseconds since 1970 (up to
// kLastMs; a time outside makes the file unreadable). <bytes> are
// percent-encoded: letters, digits and the printable ASCII that decoders send
// stand as they are; space, TAB, CR, LF, '%' and every other byte are %XX.
// An empty chunk is "-".
//
// Only a complete line counts: a process killed in the middle of a write
// leaves a last line without its LF, which the reader leaves out. A writer
// that appends to such a file first ends that line, so that the broken
// record stands alone; its byte count no longer matches its bytes, and it
// is skipped as unreadable, as is any other line that does not parse.
// Neither stops the reading.
namespace capture {

inline constexpr char kHeader[] = "KORVANE-CAPTURE 1";
// 9999-12-31T23:59:59.999Z: the last time a capture may hold, far enough
// from the 64-bit end that the replay's clock can count on from it.
inline constexpr qint64 kLastMs = 253402300799999;

struct Record {
    enum Kind { Chunk, Setting };
    Kind kind = Chunk;
    qint64 ms = 0;
    int loop = 0;     // Chunk: 1 or 2
    QByteArray bytes; // Chunk: as read
    QString key;      // Setting
    int value = 0;
};

// One record as its line, LF included.
QByteArray chunkLine(qint64 ms, int loop, const QByteArray& bytes);
QByteArray settingLine(qint64 ms, const QString& key, int value);

// Appends records to a capture file, each as one write, so that a killed
// process loses at most the record being written.
class Writer {
public:
    // Creates the file, or appends to a capture already there. False (with
    // a reason) for a file that cannot be written or is no capture.
    bool open(const QString& path, QString* error = nullptr);
    bool isOpen() const { return file_.isOpen(); }
    void close() { file_.close(); }
    // Syncs what was written and closes the file; false (with the system's
    // reason) when the records did not all reach the disk.
    bool finish(QString* error = nullptr);

    // False once the file cannot be written (disk full, removed medium);
    // failure() then says why, also after close().
    bool chunk(qint64 ms, int loop, const QByteArray& bytes);
    bool setting(qint64 ms, const QString& key, int value);
    const QString& failure() const { return failure_; }

private:
    bool put(const QByteArray& line);
    QFile file_;
    QString failure_; // the first write that failed, with the system's reason
};

struct Contents {
    QList<Record> records;
    qsizetype skippedLines = 0;  // complete lines that do not parse
    qsizetype truncatedTail = 0; // bytes of a last line without its LF
};

// Parses a whole capture. False (with a reason) when the file cannot be read,
// does not start with the header, or holds a time out of range (the reason
// names its line).
bool read(const QString& path, Contents& out, QString* error = nullptr);
bool parse(const QByteArray& text, Contents& out, QString* error = nullptr);

} // namespace capture
