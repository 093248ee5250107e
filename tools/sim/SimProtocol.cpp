#include "SimProtocol.h"

#include <QSet>

#include <cmath>
#include <cstdio>

QByteArray PassingLine(int loop, const QByteArray& tpid, double clockSeconds) {
    char time[32];
    std::snprintf(time, sizeof time, "%.3f", clockSeconds);
    return "@\t" + QByteArray::number(loop) + "\t0\t" + tpid + '\t' + time + "\t0\t\r\n";
}

namespace {
bool toInt(const QByteArray& text, int& out) {
    if (text.isEmpty())
        return false;
    bool ok = false;
    out = text.toInt(&ok);
    return ok;
}
} // namespace

std::optional<DecoderRequest> ParseDecoderCommand(QByteArray line) {
    if (line.startsWith('\x01'))
        line.remove(0, 1);
    if (!line.startsWith("?,") || !line.endsWith(','))
        return std::nullopt;
    const QByteArrayList parts = line.mid(2, line.size() - 3).split(',');
    DecoderRequest r;
    if (parts.size() < 3 || !toInt(parts.at(0), r.decid) || parts.at(1) != "0")
        return std::nullopt;
    if (parts.size() == 4 && parts.at(2) == "9") {
        r.kind = DecoderRequest::Clock;
        if (!toInt(parts.at(3), r.seconds) || r.seconds < 0 || r.seconds >= int(kSecondsPerDay))
            return std::nullopt;
        return r;
    }
    if (parts.size() == 5 && parts.at(2) == "37" && parts.at(3) == "0" &&
        parts.at(4) == "7360452") {
        r.kind = DecoderRequest::Protocol;
        return r;
    }
    return std::nullopt;
}

QByteArrayList LineSplitter::feed(const QByteArray& bytes) {
    QByteArrayList lines;
    for (char c : bytes) {
        if (c == end_) {
            if (end_ == '\n' && pending_.endsWith('\r'))
                pending_.chop(1);
            lines << pending_;
            pending_.clear();
        } else if (pending_.size() < limit_) {
            pending_ += c;
        } else {
            ++dropped_;
        }
    }
    return lines;
}

QString RenderBoardLine(const QByteArray& line) {
    // The speed line: 8 blanks, c1 c2, blank, c3 c5, blank, c6 c7, 7 blanks, "."
    // with the point of the speed left out.
    const bool speedLine = line.size() == 24 && line.endsWith('.') &&
                           line.left(8) == QByteArray(8, ' ') && line.at(10) == ' ' &&
                           line.at(13) == ' ' && line.mid(16, 7) == QByteArray(7, ' ');
    if (speedLine) {
        const QByteArray whole = line.mid(8, 2) + line.at(11);
        const QByteArray decimals = line.mid(12, 1) + line.mid(14, 2);
        return QStringLiteral("BOARD  %1.%2 km/h")
            .arg(QString::fromLatin1(whole), QString::fromLatin1(decimals));
    }
    QString shown;
    for (char c : line)
        shown += (c >= 0x20 && c < 0x7f)
                     ? QChar::fromLatin1(c)
                     : QStringLiteral("\\x%1").arg(uchar(c), 2, 16, QLatin1Char('0'));
    return QStringLiteral("BOARD [%1]").arg(shown);
}

double TravelSeconds(int distCm, double kmh) {
    return distCm / 100000.0 / kmh * 3600.0;
}

QByteArray StatusLine(int loop, double clockSeconds) {
    char time[32];
    std::snprintf(time, sizeof time, "%.3f", clockSeconds);
    return "#\t" + QByteArray::number(loop) + "\t0\t" + time + "\t\r\n";
}

double DecoderClock::read(double localSeconds, double monoSeconds) const {
    const double t = localSeconds + offsetAt(monoSeconds);
    return std::fmod(std::fmod(t, kSecondsPerDay) + kSecondsPerDay, kSecondsPerDay);
}

CarField::CarField(quint32 seed) : rng_(seed) {
    const int count = rng_.bounded(8, 13);
    QSet<QByteArray> used;
    while (cars_.size() < count) {
        const int digits = rng_.bounded(4, 8);
        int lo = 1;
        for (int i = 1; i < digits; ++i)
            lo *= 10;
        const QByteArray id = QByteArray::number(rng_.bounded(lo, lo * 10));
        if (used.contains(id))
            continue;
        used.insert(id);
        cars_ << Car{id, uniform(kMinKmh, kMaxKmh * 0.8)};
    }
}

std::pair<QByteArray, double> CarField::nextLap(const QSet<QByteArray>& away) {
    QList<int> free;
    for (int i = 0; i < cars_.size(); ++i)
        if (!away.contains(cars_[i].tpid))
            free << i;
    if (free.isEmpty())
        return {QByteArray(), 0};
    Car& car = cars_[free[rng_.bounded(int(free.size()))]];
    const double kmh = qBound(kMinKmh, car.skillKmh * uniform(0.85, 1.15), kMaxKmh);
    car.skillKmh = qMin(car.skillKmh * 1.01, kMaxKmh);
    return {car.tpid, kmh};
}

double CarField::nextGapSeconds(double carsPerMinute) {
    const double mean = 60.0 / qMax(0.01, carsPerMinute);
    return mean * uniform(0.5, 1.5);
}
