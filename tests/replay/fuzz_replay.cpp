// libFuzzer target for korvane-replay: arbitrary bytes read as a capture,
// then every record it accepts fed through the replay into a fresh database.
// Built with the signed-overflow check, so that arithmetic on the capture's
// clock that leaves 64 bits stops the run as a crash would.
#include "Capture.h"
#include "Database.h"
#include "Replay.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>
#include <optional>

namespace {

// On a memory file system where there is one: a fresh database per input
// costs its durable schema commits.
QString databasePath() {
    static QTemporaryDir dir(QDir(QStringLiteral("/dev/shm")).exists()
                                 ? QStringLiteral("/dev/shm/fuzz_replay-XXXXXX")
                                 : QDir::tempPath() + QStringLiteral("/fuzz_replay-XXXXXX"));
    if (!dir.isValid())
        std::abort();
    return dir.filePath(QStringLiteral("Korvane.db"));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static int argc = 1;
    static char name[] = "fuzz_replay";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);

    capture::Contents contents;
    if (!capture::parse(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)), contents))
        return 0;
    for (const capture::Record& r : contents.records)
        if (r.ms < 0 || r.ms > capture::kLastMs)
            std::abort(); // the reader lets through a time the replay cannot count on from

    const QString path = databasePath();
    for (const char* suffix : {"", "-wal", "-shm"})
        QFile::remove(path + QLatin1String(suffix));
    try {
        SpeedDb::open(path);
        SpeedDb::checkNameColumn();
        execSql({QStringLiteral("pragma synchronous=off")});
        Replayer replay;
        {
            BatchGroup together;
            for (const capture::Record& r : contents.records)
                replay.feed(r);
            together.commit();
        }
        replay.finish();
    } catch (const DbError&) {
    }
    SpeedDb::close();
    return 0;
}
