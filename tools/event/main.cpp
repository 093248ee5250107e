// korvane-event: the event's results from its PostgreSQL server, for the
// results sheet.
#include "Database.h"
#include "EventServer.h"
#include "EventSettings.h"

#include <QCoreApplication>
#include <QSaveFile>
#include <QSqlDatabase>
#include <QSqlError>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <unistd.h>

namespace {

const char* const kUsage =
    "usage: korvane-event --database CONNECTION --event NAME [--class CLASS] export FILE.csv\n"
    "Writes the event's combined ranking, the ranking of each class, every station's\n"
    "attempts and each station's last signed chain head; with --class, that class's\n"
    "ranking and attempts only.\n"
    "  CONNECTION  as Database in section Event, e.g. \"host=… dbname=… user=…\";\n"
    "              the password from ~/.pgpass or PGPASSWORD\n";

int fail(const QString& why) {
    std::fprintf(stderr, "korvane-event: %s\n", why.toLocal8Bit().constData());
    return 1;
}

int exportTo(const EventSettings& s, const QString& className, const QString& path) {
    QSqlDatabase pg = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"));
    if (!pg.isValid())
        return fail(QStringLiteral("PostgreSQL のドライバ (QPSQL) がありません"));
    pg.setConnectOptions(ConnectOptions(s.Database));
    if (!pg.open())
        return fail(QStringLiteral("サーバーに接続できません: ") +
                    pg.lastError().databaseText().trimmed());
    QByteArray csv;
    try {
        if (EventServer::schemaVersion(pg) == 0)
            return fail(QStringLiteral("サーバーにイベントの表がありません"));
        csv = EventServer::exportCsv(pg, s.Event, className);
    } catch (const DbError& e) {
        return fail(e.message());
    }
    // A sheet already there is replaced only by a whole new one. Flush and
    // fsync are checked here: commit() overlooks a buffer the disk refused
    // at close (and would put an empty file in the old one's place), and
    // the result of its own fsync.
    QSaveFile f(path);
    QString why;
    if (!f.open(QIODevice::WriteOnly) || f.write(csv) != csv.size() || !f.flush())
        why = f.errorString();
    else if (::fsync(f.handle()) != 0)
        why = QString::fromLocal8Bit(std::strerror(errno));
    else if (!f.commit())
        why = f.errorString();
    if (why.isEmpty())
        return 0;
    f.cancelWriting();
    return fail(QStringLiteral("%1 に書き込めません: %2").arg(path, why));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    EventSettings s;
    QString className;
    QStringList rest;
    bool missing = false; // an option without its value
    while (!args.isEmpty()) {
        const QString a = args.takeFirst();
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (a == QLatin1String("--database") || a == QLatin1String("--event")) {
            if (args.isEmpty()) {
                missing = true;
                break;
            }
            (a == QLatin1String("--database") ? s.Database : s.Event) = args.takeFirst();
        } else if (a == QLatin1String("--class")) {
            if (args.isEmpty()) {
                missing = true;
                break;
            }
            className = args.takeFirst();
        } else {
            rest << a;
        }
    }
    if (s.Database.isEmpty() || s.Event.isEmpty() || rest.size() != 2 || missing ||
        rest.first() != QLatin1String("export")) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    s.Station = QStringLiteral("-"); // not a station: only read
    if (const QString problem = EventSettingsProblem(s); !problem.isEmpty())
        return fail(problem);
    return exportTo(s, className, rest.at(1));
}
