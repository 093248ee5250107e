#include "Zip.h"

#include <QtEndian>

#include <array>

namespace {

quint32 crc32(const QByteArray& bytes) {
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> t{};
        for (quint32 n = 0; n < 256; ++n) {
            quint32 c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    quint32 c = 0xFFFFFFFFu;
    for (const char b : bytes)
        c = table[(c ^ quint8(b)) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

void put16(QByteArray& out, quint16 v) {
    char b[2];
    qToLittleEndian(v, b);
    out.append(b, 2);
}

void put32(QByteArray& out, quint32 v) {
    char b[4];
    qToLittleEndian(v, b);
    out.append(b, 4);
}

quint16 get16(const QByteArray& in, qsizetype at) {
    return qFromLittleEndian<quint16>(in.constData() + at);
}

quint32 get32(const QByteArray& in, qsizetype at) {
    return qFromLittleEndian<quint32>(in.constData() + at);
}

const quint32 kLocal = 0x04034b50, kCentral = 0x02014b50, kEnd = 0x06054b50;
const quint16 kDosDate = (0 << 9) | (1 << 5) | 1; // 1980-01-01
const qint64 kMax32 = 0xFFFFFFFFll;

} // namespace

QByteArray Zip::write(const QMap<QString, QByteArray>& files, QString* why) {
    QByteArray out, central;
    for (auto f = files.cbegin(); f != files.cend(); ++f) {
        const QByteArray name = f.key().toUtf8();
        const QByteArray& data = f.value();
        if (data.size() >= kMax32 || out.size() + data.size() + 100 >= kMax32) {
            *why = QStringLiteral("%1: too large for a zip without extensions").arg(f.key());
            return {};
        }
        const quint32 crc = crc32(data);
        const quint32 offset = quint32(out.size());
        // Local header: version 1.0, no flags, stored, time, date.
        put32(out, kLocal);
        put16(out, 10);
        put16(out, 0);
        put16(out, 0);
        put16(out, 0);
        put16(out, kDosDate);
        put32(out, crc);
        put32(out, quint32(data.size()));
        put32(out, quint32(data.size()));
        put16(out, quint16(name.size()));
        put16(out, 0);
        out += name;
        out += data;
        // Made by Unix (3), 3.0; a plain file readable by all (0644).
        put32(central, kCentral);
        put16(central, 0x031E);
        put16(central, 10);
        put16(central, 0);
        put16(central, 0);
        put16(central, 0);
        put16(central, kDosDate);
        put32(central, crc);
        put32(central, quint32(data.size()));
        put32(central, quint32(data.size()));
        put16(central, quint16(name.size()));
        put16(central, 0); // extra
        put16(central, 0); // comment
        put16(central, 0); // disk
        put16(central, 0); // internal attributes
        put32(central, quint32(0100644) << 16);
        put32(central, offset);
        central += name;
    }
    const quint32 centralAt = quint32(out.size());
    out += central;
    put32(out, kEnd);
    put16(out, 0);
    put16(out, 0);
    put16(out, quint16(files.size()));
    put16(out, quint16(files.size()));
    put32(out, quint32(central.size()));
    put32(out, centralAt);
    put16(out, 0);
    return out;
}

bool Zip::read(const QByteArray& zip, QMap<QString, QByteArray>* files, QString* why) {
    files->clear();
    // The end record: the last one, before a comment of at most 64 KiB.
    qsizetype end = -1;
    for (qsizetype at = zip.size() - 22; at >= 0 && at >= zip.size() - 22 - 0xFFFF; --at)
        if (get32(zip, at) == kEnd && at + 22 + get16(zip, at + 20) == zip.size()) {
            end = at;
            break;
        }
    if (end < 0) {
        *why = QStringLiteral("not a zip file (no end of central directory)");
        return false;
    }
    const int count = get16(zip, end + 10);
    qsizetype at = get32(zip, end + 16);
    if (at + qint64(get32(zip, end + 12)) != end) {
        *why = QStringLiteral("the central directory does not end where the zip says");
        return false;
    }
    for (int i = 0; i < count; ++i) {
        if (at + 46 > end || get32(zip, at) != kCentral) {
            *why = QStringLiteral("central directory entry %1 is damaged").arg(i + 1);
            return false;
        }
        const quint16 flags = get16(zip, at + 8), method = get16(zip, at + 10);
        const quint32 crc = get32(zip, at + 16), csize = get32(zip, at + 20),
                      usize = get32(zip, at + 24);
        const int nameLen = get16(zip, at + 28), skip = get16(zip, at + 30) + get16(zip, at + 32);
        const qint64 local = get32(zip, at + 42);
        if (at + 46 + nameLen + skip > end) {
            *why = QStringLiteral("central directory entry %1 is damaged").arg(i + 1);
            return false;
        }
        const QByteArray name = zip.mid(at + 46, nameLen);
        at += 46 + nameLen + skip;
        const QString entry = QString::fromUtf8(name);
        if (method != 0 || csize != usize || (flags & 0x0009)) {
            *why = QStringLiteral("%1: compressed, encrypted or sized later; a bundle's entries "
                                  "are stored as they are")
                       .arg(entry);
            return false;
        }
        if (local + 30 > end || get32(zip, local) != kLocal || get16(zip, local + 8) != method ||
            get32(zip, local + 14) != crc || get32(zip, local + 18) != csize ||
            zip.mid(local + 30, get16(zip, local + 26)) != name) {
            *why = QStringLiteral("%1: its local header does not match the directory").arg(entry);
            return false;
        }
        const qint64 dataAt = local + 30 + get16(zip, local + 26) + get16(zip, local + 28);
        if (dataAt + qint64(csize) > end) {
            *why = QStringLiteral("%1: runs past the end of the data").arg(entry);
            return false;
        }
        const QByteArray data = zip.mid(dataAt, csize);
        if (crc32(data) != crc) {
            *why = QStringLiteral("%1: its CRC does not hold (the bytes were changed)").arg(entry);
            return false;
        }
        if (files->contains(entry)) {
            *why = QStringLiteral("%1: stored twice").arg(entry);
            return false;
        }
        files->insert(entry, data);
    }
    return true;
}
