// korvane-web: the event's live pages (kiosk, rankings, driver pages,
// overlay, share) for all its stations together, read from the event's
// PostgreSQL server. Only reads; keeps nothing but its connections, so any
// number of copies may run behind one reverse proxy.
#include "EventFeed.h"
#include "EventSettings.h"
#include "EventSource.h"
#include "IniFile.h"
#include "LiveServer.h"
#include "PgLink.h"
#include "WebText.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>

#include <cstdio>
#include <memory>

namespace {

const char* const kUsage =
    "usage: korvane-web [--config FILE] [--database CONNECTION] [--event NAME]\n"
    "                   [--listen HOST:PORT] [--max-connections N] [--max-per-address N]\n"
    "                   [--poll-ms MS] [--ping-ms MS] [--public-url URL]\n"
    "Serves the event's live pages from its PostgreSQL server, read-only.\n"
    "  --config FILE   settings in section [Web]: Database, Event, Listen,\n"
    "                  MaxConnections, MaxPerAddress, PollMs, PingMs,\n"
    "                  IdleTimeoutMs, RequestTimeoutMs, PublicUrl; options given\n"
    "                  on the command line win\n"
    "  CONNECTION      \"host=… dbname=… user=…\"; the password from ~/.pgpass or\n"
    "                  PGPASSWORD\n"
    "  --listen        default 127.0.0.1:8090\n";

void say(const QString& text) {
    std::fprintf(stderr, "korvane-web: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

int fail(const QString& why) {
    say(why);
    return 1;
}

// The settings by key, as in the file's [Web] section.
using Settings = QHash<QString, QString>;

const struct {
    const char* option;
    const char* key;
} kOptions[] = {
    {"--database", "Database"},
    {"--event", "Event"},
    {"--listen", "Listen"},
    {"--max-connections", "MaxConnections"},
    {"--max-per-address", "MaxPerAddress"},
    {"--poll-ms", "PollMs"},
    {"--ping-ms", "PingMs"},
    {"--idle-timeout-ms", "IdleTimeoutMs"},
    {"--request-timeout-ms", "RequestTimeoutMs"},
    {"--public-url", "PublicUrl"},
};

bool number(const Settings& s, const char* key, int min, int* out) {
    const QString text = s.value(QLatin1String(key));
    if (text.isEmpty())
        return true;
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < min)
        return false;
    *out = v;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    Settings given;
    QString config;
    while (!args.isEmpty()) {
        const QString a = args.takeFirst();
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        bool known = false;
        for (const auto& o : kOptions)
            if (a == QLatin1String(o.option) && !args.isEmpty()) {
                given.insert(QLatin1String(o.key), args.takeFirst());
                known = true;
            }
        if (a == QLatin1String("--config") && !args.isEmpty()) {
            config = args.takeFirst();
            known = true;
        }
        if (!known) {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    Settings s;
    if (!config.isEmpty()) {
        if (!QFileInfo(config).isReadable())
            return fail(QStringLiteral("%1 を読めません").arg(config));
        IniFile ini(config);
        ini.load();
        for (const auto& o : kOptions)
            if (const QString v = ini.value(QStringLiteral("Web"), QLatin1String(o.key));
                !v.isEmpty())
                s.insert(QLatin1String(o.key), v);
    }
    s.insert(given);

    EventSettings event;
    event.Database = s.value(QStringLiteral("Database"));
    event.Event = s.value(QStringLiteral("Event"));
    event.Station = QStringLiteral("-"); // not a station: only reads
    if (event.Database.isEmpty() || event.Event.isEmpty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (const QString problem = EventSettingsProblem(event); !problem.isEmpty())
        return fail(problem);

    LiveServer::Options o;
    const std::optional<webtext::ListenAddress> listen =
        webtext::parseListen(s.value(QStringLiteral("Listen"), QStringLiteral("127.0.0.1:8090")));
    if (!listen)
        return fail(QStringLiteral("Listen は host:port の形で書いてください"));
    o.address = listen->address;
    o.port = listen->port;
    // A reverse proxy in front is one address for all its clients: raise
    // MaxPerAddress to MaxConnections there and let the proxy limit them.
    o.maxConnections = 4000;
    int pollMs = 5000;
    if (!number(s, "MaxConnections", 1, &o.maxConnections) ||
        !number(s, "MaxPerAddress", 1, &o.maxPerAddress) || !number(s, "PollMs", 100, &pollMs) ||
        !number(s, "PingMs", 100, &o.pingMs) ||
        !number(s, "IdleTimeoutMs", 100, &o.idleTimeoutMs) ||
        !number(s, "RequestTimeoutMs", 100, &o.requestTimeoutMs))
        return fail(QStringLiteral("数の設定が正しくありません"));
    o.publicUrl = s.value(QStringLiteral("PublicUrl"));
    // The feed tells the server when to read the ranking.
    o.rankingPollMs = 0;

    const QString options = ConnectOptions(event.Database);
    PgLink read(QStringLiteral("korvane-web-read"),
                options + QStringLiteral(" application_name=korvane-web"));
    o.source = [&read, &event] { return std::make_unique<EventSource>(read, event.Event); };
    LiveServer server(o);
    EventFeed feed(read, options + QStringLiteral(" application_name=korvane-web-listen"),
                   event.Event, server, pollMs);
    QObject::connect(&feed, &EventFeed::note, &feed, say);
    QObject::connect(&server, &LiveServer::readFailed, &server,
                     [](const QString& why) { say(QStringLiteral("結果を読めません: ") + why); });
    QObject::connect(&server, &LiveServer::readRecovered, &server,
                     [] { say(QStringLiteral("結果を再び読めます")); });
    int status = 0;
    QObject::connect(&server, &LiveServer::started, &server,
                     [&](bool ok, const QString& message, const QStringList&) {
                         if (!ok) {
                             say(message);
                             status = 1;
                             QCoreApplication::exit(1);
                             return;
                         }
                         say(QStringLiteral("%1 (%2)").arg(message, event.Event));
                         feed.start();
                     });
    server.start();
    if (status != 0)
        return status;
    return app.exec();
}
