#include "SpillFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

const QByteArray kHeader = QByteArrayLiteral("KORVANE-PENDING 1\n");
// Room for the backlog's bound of passings (a line is 60 to 100 bytes), but
// never a large share of a small file system.
const qint64 kReserveBytes = 1 << 20;
const int kReserveShare = 16;

QByteArray text(const QByteArray& bytes) {
    return bytes.isEmpty() ? QByteArrayLiteral("-") : bytes.toPercentEncoding({}, "-,");
}
QByteArray text(const QString& s) {
    return text(s.toUtf8());
}
QByteArray number(double v) {
    return QByteArray::number(v, 'g', 17);
}

QByteArray bytesOf(const QByteArray& field) {
    return field == "-" ? QByteArray() : QByteArray::fromPercentEncoding(field);
}
QString textOf(const QByteArray& field) {
    return QString::fromUtf8(bytesOf(field));
}
bool integer(const QByteArray& s, qint64& out) {
    bool ok = false;
    out = s.toLongLong(&ok);
    return ok;
}
bool real(const QByteArray& s, double& out) {
    bool ok = false;
    out = s.toDouble(&ok);
    return ok;
}

bool parseAttempt(const QByteArray& field, const QString& tpid, Journal::Attempt& a) {
    const QList<QByteArray> f = field.split(',');
    qint64 dist = 0, flags = 0;
    if (f.size() != 10 || !integer(f[0], a.passing1) || !integer(f[1], a.passing2) ||
        !real(f[2], a.time1) || !real(f[3], a.time2) || !integer(f[4], dist) ||
        !real(f[5], a.speed) || !integer(f[7], flags) || !integer(f[9], a.measuredMs))
        return false;
    a.tpid = tpid;
    a.distCm = int(dist);
    a.speedText = textOf(f[6]);
    a.flags = unsigned(flags);
    a.status = textOf(f[8]);
    return true;
}

bool parseLine(const QByteArray& line, SpillContents& out) {
    const QList<QByteArray> f = line.split(' ');
    if (f[0] == "P" && f.size() == 6) {
        QueuedPassing p;
        qint64 loop = 0;
        if (!integer(f[1], p.receivedMs) || !integer(f[2], loop) || (loop != 1 && loop != 2))
            return false;
        p.loop = int(loop);
        p.tpid = textOf(f[3]);
        p.time = textOf(f[4]);
        p.raw = bytesOf(f[5]);
        out.passings.append(p);
        return true;
    }
    if (f[0] == "M" && f.size() == 5) {
        MeasuredRow m;
        m.tpid = textOf(f[1]);
        if (!real(f[2], m.time2))
            return false;
        m.newBest = textOf(f[3]);
        if (f[4] != "-") {
            Journal::Attempt a;
            if (!parseAttempt(f[4], m.tpid, a))
                return false;
            m.attempt = a;
        }
        out.measured.append(m);
        return true;
    }
    return false;
}

QString reason(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

bool syncFolder(const QString& path) {
    const int dir = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                           O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return false;
    const bool ok = ::fsync(dir) == 0 || errno == EINVAL;
    ::close(dir);
    return ok;
}

} // namespace

SpillFile::SpillFile(const QString& databasePath) {
    const QFileInfo db(databasePath);
    path_ = db.absoluteDir().filePath(db.completeBaseName() + QStringLiteral(".pending"));
    reservePath_ = db.absoluteDir().filePath(db.completeBaseName() + QStringLiteral(".reserve"));
}

bool SpillFile::exists() const {
    return QFileInfo::exists(path_);
}

QByteArray SpillFile::passingLine(const QueuedPassing& p) {
    return "P " + QByteArray::number(p.receivedMs) + ' ' + QByteArray::number(p.loop) + ' ' +
           text(p.tpid) + ' ' + text(p.time) + ' ' + text(p.raw) + '\n';
}

QByteArray SpillFile::measuredLine(const MeasuredRow& m) {
    QByteArray attempt = "-";
    if (m.attempt) {
        const Journal::Attempt& a = *m.attempt;
        attempt = QByteArray::number(a.passing1) + ',' + QByteArray::number(a.passing2) + ',' +
                  number(a.time1) + ',' + number(a.time2) + ',' + QByteArray::number(a.distCm) +
                  ',' + number(a.speed) + ',' + text(a.speedText) + ',' +
                  QByteArray::number(a.flags) + ',' + text(a.status) + ',' +
                  QByteArray::number(a.measuredMs);
    }
    return "M " + text(m.tpid) + ' ' + number(m.time2) + ' ' + text(m.newBest) + ' ' + attempt +
           '\n';
}

bool SpillFile::append(const QList<MeasuredRow>& measured, const QList<QueuedPassing>& passings,
                       QString* why) {
    const auto fail = [&](int err, int fd) {
        if (fd >= 0)
            ::close(fd);
        if (why)
            *why = QStringLiteral("%1: %2").arg(path_, reason(err));
        return false;
    };
    const int fd =
        ::open(QFile::encodeName(path_).constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return fail(errno, -1);
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return fail(errno, fd);
    QByteArray data;
    if (st.st_size == 0)
        data = kHeader;
    else {
        // A line cut short by a killed writer is closed off, so that it
        // stands alone and is skipped.
        char last = '\n';
        if (::pread(fd, &last, 1, st.st_size - 1) != 1)
            return fail(errno, fd);
        if (last != '\n')
            data = "\n";
    }
    for (const MeasuredRow& m : measured)
        data += measuredLine(m);
    for (const QueuedPassing& p : passings)
        data += passingLine(p);
    const char* at = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, at, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail(n < 0 ? errno : ENOSPC, fd);
        at += n;
        left -= n;
    }
    if (::fsync(fd) != 0)
        return fail(errno, fd);
    if (::close(fd) != 0)
        return fail(errno, -1);
    if (st.st_size == 0 && !syncFolder(path_))
        return fail(errno, -1);
    return true;
}

bool SpillFile::read(SpillContents& out, QString* why) const {
    out = SpillContents();
    QFile f(path_);
    if (!f.exists())
        return true;
    if (!f.open(QIODevice::ReadOnly)) {
        if (why)
            *why = QStringLiteral("%1: %2").arg(path_, f.errorString());
        return false;
    }
    const QByteArray data = f.readAll();
    if (!data.startsWith(kHeader)) {
        if (why)
            *why = QStringLiteral("%1: not a spill file").arg(path_);
        return false;
    }
    for (qsizetype at = kHeader.size(); at < data.size();) {
        const qsizetype end = data.indexOf('\n', at);
        if (end < 0)
            break;
        if (!parseLine(data.mid(at, end - at), out))
            ++out.skippedLines;
        at = end + 1;
    }
    return true;
}

bool SpillFile::remove(QString* why) {
    if (::unlink(QFile::encodeName(path_).constData()) != 0 && errno != ENOENT) {
        if (why)
            *why = QStringLiteral("%1: %2").arg(path_, reason(errno));
        return false;
    }
    syncFolder(path_);
    return true;
}

void SpillFile::keepReserve() {
    struct statvfs fs;
    if (::statvfs(QFile::encodeName(QFileInfo(reservePath_).absolutePath()).constData(), &fs) != 0)
        return;
    const qint64 size =
        std::min<qint64>(kReserveBytes, qint64(fs.f_blocks) * qint64(fs.f_frsize) / kReserveShare);
    const int fd =
        ::open(QFile::encodeName(reservePath_).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    // Blocks that are really allocated: a sparse file would free nothing.
    // Where the disk has less room, what it has is kept.
    ::posix_fallocate(fd, 0, size);
    ::close(fd);
}

void SpillFile::releaseReserve() {
    ::unlink(QFile::encodeName(reservePath_).constData());
}
