// korvane-replay: feeds a capture of decoder bytes (korvane --capture,
// korvane-sim --capture) through the program's receive, store and measuring
// code into a fresh data folder, as fast as it goes, and prints the attempts.
#include "Replay.h"
#include "ScratchFolder.h"

#include "DataDir.h"
#include "Database.h"
#include "Journal.h"
#include "Plausibility.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>

namespace {

// Records to one transaction when the commits need not reach the disk.
const qsizetype kGroup = 1000;

// SIGINT or SIGTERM: the replay stops between records and ends as after an
// error, removing its temporary folder.
volatile std::sig_atomic_t stopSignal = 0;

extern "C" void onStopSignal(int sig) {
    stopSignal = sig;
}

int usage() {
    std::fputs(
        "usage: korvane-replay [--data-dir DIR [--append]] [--dist CM] [--wait S] [--quiet]\n"
        "                      [--durable] CAPTURE\n"
        "Feeds CAPTURE through Korvane's receive, store and measuring code into a fresh\n"
        "data folder (DIR, or a temporary one removed afterwards) and prints the attempts.\n"
        "  --data-dir DIR  keep the result in DIR, which must hold no Korvane.db yet\n"
        "  --append        add to the Korvane.db already in DIR\n"
        "  --dist CM       section length, over the one the capture records\n"
        "  --wait S        hold after a speed (s), over the one the capture records\n"
        "  --quiet         print only the summary (standard error)\n"
        "  --durable       every commit reaches the disk, as in the program (slower)\n",
        stderr);
    return 2;
}

void printAttempts(qint64 after) {
    const QVector<Journal::StoredAttempt> attempts = Journal::attemptsAfter(after);
    std::puts("#id\tmeasured (UTC)\ttpid\ttime1\ttime2\tdist_cm\tkm/h\tstatus\tflags");
    for (const Journal::StoredAttempt& a : attempts) {
        const QString line =
            QStringLiteral("%1\t%2\t%3\t%4\t%5\t%6\t%7\t%8\t%9")
                .arg(a.id)
                .arg(QDateTime::fromMSecsSinceEpoch(a.measuredMs, Qt::UTC)
                         .toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ")))
                .arg(a.tpid)
                .arg(a.time1.toDouble(), 0, 'f', 3)
                .arg(a.time2.toDouble(), 0, 'f', 3)
                .arg(a.distCm)
                .arg(a.speedText, a.status, FlagWords(a.flags).join(QLatin1Char(',')));
        std::puts(line.toUtf8().constData());
    }
}

} // namespace

int main(int argc, char** argv) {
    // The notes of received lines read the local time; without a zone to
    // look up each time they cost more than the lines.
    qputenv("TZ", "UTC");
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QString dataDir, capturePath;
    bool append = false, quiet = false, durable = false;
    QList<QPair<QString, int>> overrides;
    while (!args.isEmpty()) {
        const QString a = args.takeFirst();
        if (a == QLatin1String("--append")) {
            append = true;
        } else if (a == QLatin1String("--quiet")) {
            quiet = true;
        } else if (a == QLatin1String("--durable")) {
            durable = true;
        } else if (a == QLatin1String("--data-dir") && !args.isEmpty()) {
            dataDir = args.takeFirst();
        } else if ((a == QLatin1String("--dist") || a == QLatin1String("--wait")) &&
                   !args.isEmpty()) {
            bool ok = false;
            const int v = args.takeFirst().toInt(&ok);
            if (!ok || v < 0)
                return usage();
            overrides.append(
                {a == QLatin1String("--dist") ? QStringLiteral("Dist") : QStringLiteral("Wait"),
                 v});
        } else if (a.startsWith(QLatin1Char('-')) || !capturePath.isEmpty()) {
            return usage();
        } else {
            capturePath = a;
        }
    }
    if (capturePath.isEmpty() || (append && dataDir.isEmpty()))
        return usage();

    capture::Contents contents;
    QString why;
    if (!capture::read(capturePath, contents, &why)) {
        std::fprintf(stderr, "korvane-replay: %s\n", qPrintable(why));
        return 1;
    }

    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
    // What a killed replay left goes before this one adds its own.
    ScratchFolder::removeLeftBehind(QDir::tempPath());
    std::unique_ptr<ScratchFolder> scratch;
    if (dataDir.isEmpty()) {
        scratch = std::make_unique<ScratchFolder>(QDir::tempPath());
        if (!scratch->isValid()) {
            std::fputs("korvane-replay: no temporary folder\n", stderr);
            return 1;
        }
        dataDir = scratch->path();
    }
    dataDir = QDir(dataDir).absolutePath();
    const QString dbPath = databasePathIn(dataDir);
    if (!ensureDataDir(dataDir)) {
        std::fprintf(stderr, "korvane-replay: cannot create %s\n", qPrintable(dataDir));
        return 1;
    }
    if (!append && QFile::exists(dbPath)) {
        std::fprintf(stderr, "korvane-replay: %s already holds a database (--append adds to it)\n",
                     qPrintable(dataDir));
        return 1;
    }

    int status = 0;
    try {
        SpeedDb::open(dbPath);
        SpeedDb::checkNameColumn();
        // A replay is made again by running it again: its commits need not
        // wait for the disk. A killed replay still leaves every commit whole.
        if (!durable)
            execSql({QStringLiteral("pragma synchronous=off")});
        const qint64 before = Journal::lastAttemptId();

        Replayer replay;
        for (const auto& [key, value] : overrides)
            replay.overrideSetting(key, value);
        std::fprintf(stderr, "korvane-replay: replaying %lld records into %s\n",
                     (long long)contents.records.size(), qPrintable(dataDir));
        std::fflush(stderr);
        QElapsedTimer took;
        took.start();
        // Outside --durable the records go in groups of one transaction: the
        // commits of the program's notifications and measuring runs join it.
        const qsizetype group = durable ? 1 : kGroup;
        for (qsizetype at = 0; at < contents.records.size(); at += group) {
            const qsizetype end = std::min(at + group, contents.records.size());
            std::optional<BatchGroup> together;
            if (group > 1)
                together.emplace();
            for (qsizetype i = at; i < end; ++i) {
                if (stopSignal)
                    throw std::runtime_error("stopped by a signal");
                replay.feed(contents.records.at(i));
            }
            if (together)
                together->commit();
        }
        replay.finish();
        const double seconds = std::max<qint64>(took.nsecsElapsed(), 1) / 1e9;

        if (!quiet)
            printAttempts(before);
        const Replayer::Stats& s = replay.stats();
        std::fprintf(stderr,
                     "korvane-replay: %lld chunks, %lld passings, %lld attempts (%lld suspect) "
                     "in %.3f s: %.0f attempts/s",
                     (long long)s.chunks, (long long)s.passings, (long long)s.attempts,
                     (long long)s.suspect, seconds, s.attempts / seconds);
        if (contents.skippedLines || contents.truncatedTail || s.droppedBytes)
            std::fprintf(stderr,
                         "; %lld unreadable lines, %lld bytes of a cut last line, "
                         "%lld bytes without line end dropped",
                         (long long)contents.skippedLines, (long long)contents.truncatedTail,
                         (long long)s.droppedBytes);
        std::fputs("\n", stderr);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "korvane-replay: %s\n", e.what());
        status = 1;
    }
    SpeedDb::close();
    return stopSignal ? 128 + stopSignal : status;
}
