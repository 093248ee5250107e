#include "CaptureRoom.h"

#include "Capture.h"
#include "Error.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QPair>

CaptureRoom::CaptureRoom(Host& h, std::unique_ptr<capture::Writer> writer)
    : Room(h), writer_(std::move(writer)) {
    writeSettings();
    connect(&host, &Host::chunkReceived, this,
            [this](int loop, qint64 receivedMs, const QByteArray& bytes) {
                if (writer_ && writer_->isOpen() && !writer_->chunk(receivedMs, loop, bytes))
                    stop();
            });
    connect(&host, &Host::settingsChanged, this, [this] { writeSettings(); });
}

CaptureRoom::~CaptureRoom() = default;

// What a replay needs to measure as the program did, written when it starts
// and whenever the section length or the hold changes.
void CaptureRoom::writeSettings() {
    if (!writer_ || !writer_->isOpen())
        return;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const Settings s = host.settings();
    const SuspectChecks c = host.suspectChecks();
    const QPair<const char*, int> values[] = {
        {"Dist", s.Dist},
        {"Wait", s.Wait},
        {"MinKmh", c.MinKmh},
        {"MaxKmh", c.MaxKmh},
        {"DoubleReadMs", c.DoubleReadMs},
        {"MaxSectionS", c.MaxSectionS},
        {"HoldSuspect", c.HoldSuspect},
    };
    for (const auto& [key, value] : values)
        if (!writer_->setting(now, QLatin1String(key), value))
            return stop();
}

// A capture that cannot be written (disk full) ends; measuring goes on. The
// close tells of it again, where it reaches standard error and the exit
// status.
void CaptureRoom::stop() {
    writer_->close();
    host.note(QCoreApplication::translate(
                  "TFkorvane", " キャプチャファイルに書き込めないため、記録を止めました: %1")
                  .arg(writer_->failure()));
}

void CaptureRoom::close() {
    if (!writer_)
        return;
    QString why = writer_->failure();
    const bool ok = writer_->finish(&why) && writer_->failure().isEmpty();
    writer_.reset();
    if (ok)
        return;
    const QString text =
        QCoreApplication::translate("TFkorvane", "キャプチャファイルに書き込めません: %1").arg(why);
    host.note(QLatin1Char(' ') + text);
    throw Error(text);
}
