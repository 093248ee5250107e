#include "Capture.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <unistd.h>

namespace {

// Kept as they stand in the file, so that a decoder line stays readable.
const QByteArray kPlain = QByteArrayLiteral("!\"#$&'()*+,/:;<=>?@[\\]^`{|}");

// Only a field that is all digits (after an optional minus) is a number:
// the library's conversion stops at a NUL byte and would take the digits
// before it as the whole field.
bool parseInt(const QByteArray& s, qint64& out) {
    const qsizetype first = s.startsWith('-') ? 1 : 0;
    if (s.size() == first ||
        !std::all_of(s.begin() + first, s.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    bool ok = false;
    out = s.toLongLong(&ok);
    return ok;
}

// A time written as a number that no clock gives (beyond kLastMs, before
// 1970, or past 64 bits). The replay counts forward from it.
bool outOfRange(const QByteArray& field) {
    const QByteArray digits = field.startsWith('-') ? field.mid(1) : field;
    if (digits.isEmpty() ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false; // not a number: an unreadable line
    bool ok = false;
    const qint64 ms = field.toLongLong(&ok);
    return !ok || ms < 0 || ms > capture::kLastMs;
}

// One complete line (without its LF) as a record.
bool parseLine(const QByteArray& line, capture::Record& r) {
    const QList<QByteArray> f = line.split(' ');
    if (f.size() < 3 || !parseInt(f[1], r.ms))
        return false;
    if (f[0] == "D" && f.size() == 5) {
        qint64 loop = 0, n = 0;
        if (!parseInt(f[2], loop) || (loop != 1 && loop != 2) || !parseInt(f[3], n))
            return false;
        r.kind = capture::Record::Chunk;
        r.loop = int(loop);
        r.bytes = f[4] == "-" ? QByteArray() : QByteArray::fromPercentEncoding(f[4]);
        // A record cut short (and ended by the next writer) is shorter.
        return r.bytes.size() == n;
    }
    if (f[0] == "S" && f.size() == 3) {
        const qsizetype eq = f[2].indexOf('=');
        qint64 value = 0;
        if (eq <= 0 || !parseInt(f[2].mid(eq + 1), value) || value < INT_MIN || value > INT_MAX)
            return false;
        r.kind = capture::Record::Setting;
        r.key = QString::fromLatin1(f[2].left(eq));
        r.value = int(value);
        return true;
    }
    return false;
}

} // namespace

QByteArray capture::chunkLine(qint64 ms, int loop, const QByteArray& bytes) {
    return "D " + QByteArray::number(ms) + ' ' + QByteArray::number(loop) + ' ' +
           QByteArray::number(bytes.size()) + ' ' +
           (bytes.isEmpty() ? QByteArray("-") : bytes.toPercentEncoding(kPlain)) + '\n';
}

QByteArray capture::settingLine(qint64 ms, const QString& key, int value) {
    return "S " + QByteArray::number(ms) + ' ' + key.toLatin1() + '=' + QByteArray::number(value) +
           '\n';
}

bool capture::Writer::open(const QString& path, QString* error) {
    const auto fail = [&](const QString& why) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, why);
        file_.close();
        return false;
    };
    file_.setFileName(path);
    if (!file_.open(QIODevice::ReadWrite | QIODevice::Unbuffered))
        return fail(file_.errorString());
    const qint64 size = file_.size();
    if (size == 0)
        return put(QByteArray(kHeader) + '\n') || fail(file_.errorString());
    if (file_.readLine(sizeof kHeader + 1) != QByteArray(kHeader) + '\n')
        return fail(QStringLiteral("not a capture file"));
    // A record cut short by a killed writer is closed off, and so stands
    // alone as a line the reader skips.
    char last = '\n';
    if (!file_.seek(size - 1) || !file_.getChar(&last) || !file_.seek(size))
        return fail(file_.errorString());
    if (last != '\n' && !put("\n"))
        return fail(file_.errorString());
    return true;
}

bool capture::Writer::put(const QByteArray& line) {
    if (!file_.isOpen())
        return false;
    if (file_.write(line) == line.size())
        return true;
    if (failure_.isEmpty())
        failure_ = QStringLiteral("%1: %2").arg(file_.fileName(), file_.errorString());
    return false;
}

bool capture::Writer::finish(QString* error) {
    if (!file_.isOpen())
        return true;
    // The file is unbuffered, so every record went to the system at once;
    // what the system kept back for later is written now, or fails now.
    const bool synced = ::fsync(file_.handle()) == 0;
    const QString why = QString::fromLocal8Bit(std::strerror(errno));
    file_.close();
    if (!synced && error)
        *error = QStringLiteral("%1: %2").arg(file_.fileName(), why);
    return synced;
}

bool capture::Writer::chunk(qint64 ms, int loop, const QByteArray& bytes) {
    return put(chunkLine(ms, loop, bytes));
}

bool capture::Writer::setting(qint64 ms, const QString& key, int value) {
    return put(settingLine(ms, key, value));
}

bool capture::parse(const QByteArray& text, Contents& out, QString* error) {
    out = Contents();
    const QByteArray header = QByteArray(kHeader) + '\n';
    if (!text.startsWith(header)) {
        if (error)
            *error = QStringLiteral("not a capture file");
        return false;
    }
    qsizetype at = header.size();
    for (qsizetype lineNumber = 2; at < text.size(); ++lineNumber) {
        const qsizetype end = text.indexOf('\n', at);
        if (end < 0) {
            out.truncatedTail = text.size() - at;
            break;
        }
        const QByteArray line = text.mid(at, end - at);
        // Not a record cut short (that is only ever shorter): the file is
        // not what a writer makes.
        const QByteArray time = line.split(' ').value(1);
        if ((line.startsWith("D ") || line.startsWith("S ")) && outOfRange(time)) {
            if (error)
                *error = QStringLiteral("line %1: time %2 is out of range")
                             .arg(lineNumber)
                             .arg(QString::fromLatin1(time.left(40)));
            out = Contents();
            return false;
        }
        Record r;
        if (parseLine(line, r))
            out.records.append(std::move(r));
        else
            ++out.skippedLines;
        at = end + 1;
    }
    return true;
}

bool capture::read(const QString& path, Contents& out, QString* error) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, f.errorString());
        return false;
    }
    if (!parse(f.readAll(), out, error)) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, *error);
        return false;
    }
    return true;
}
