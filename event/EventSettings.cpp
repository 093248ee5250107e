#include "EventSettings.h"

#include "IniFile.h"

#include <QCoreApplication>
#include <QStringList>

#include <utility>

namespace {

const int kConnectTimeoutS = 5;

// The keys of a key=value connection string, in order; values may be in
// single quotes with backslash escapes. Empty when the text does not parse.
QStringList connectionKeys(const QString& text, bool* ok) {
    QStringList keys;
    *ok = true;
    int i = 0;
    const int n = int(text.size());
    const auto skipSpace = [&] {
        while (i < n && text.at(i).isSpace())
            ++i;
    };
    skipSpace();
    while (i < n) {
        const int keyStart = i;
        while (i < n && text.at(i) != QLatin1Char('=') && !text.at(i).isSpace())
            ++i;
        const QString key = text.mid(keyStart, i - keyStart);
        skipSpace();
        if (key.isEmpty() || i >= n || text.at(i) != QLatin1Char('=')) {
            *ok = false;
            return {};
        }
        ++i;
        skipSpace();
        if (i < n && text.at(i) == QLatin1Char('\'')) {
            ++i;
            while (i < n && text.at(i) != QLatin1Char('\''))
                i += text.at(i) == QLatin1Char('\\') ? 2 : 1;
            if (i >= n) {
                *ok = false;
                return {};
            }
            ++i;
        } else {
            while (i < n && !text.at(i).isSpace())
                ++i;
        }
        keys << key.toLower();
        skipSpace();
    }
    return keys;
}

} // namespace

EventSettings LoadEventSettings(const QString& iniPath) {
    IniFile ini(iniPath);
    ini.load();
    const QString section = QStringLiteral("Event");
    EventSettings s;
    s.Database = ini.value(section, QStringLiteral("Database"));
    s.Station = ini.value(section, QStringLiteral("Station"));
    s.Event = ini.value(section, QStringLiteral("Event"));
    return s;
}

QString EventSettingsProblem(const EventSettings& s) {
    if (!s.enabled())
        return {};
    bool ok = false;
    const QStringList keys = connectionKeys(s.Database, &ok);
    if (!ok)
        return QCoreApplication::translate(
            "EventSettings", "Database は host=… dbname=… user=… の形で書いてください");
    if (keys.contains(QLatin1String("password")))
        return QCoreApplication::translate(
            "EventSettings", "Database にパスワードは書けません（~/.pgpass か PGPASSWORD に）");
    // The driver separates its options by ';' too: one in a value would
    // cut it in two.
    if (s.Database.contains(QLatin1Char(';')))
        return QCoreApplication::translate("EventSettings", "Database に ; は使えません");
    if (s.Station.isEmpty() || s.Event.isEmpty())
        return QCoreApplication::translate("EventSettings",
                                           "[Event] の Station と Event を設定してください");
    return {};
}

QString ConnectOptions(const QString& database) {
    bool ok = false;
    const QStringList keys = connectionKeys(database, &ok);
    if (!ok)
        return database;
    // Over TCP a server whose host went away (cable, Wi-Fi, power) is noticed
    // by the socket: keepalive probes while idle, and an upper bound for
    // data the server does not acknowledge. libpq ignores them on a local
    // socket.
    const std::pair<const char*, int> defaults[] = {
        {"connect_timeout", kConnectTimeoutS},
        {"keepalives_idle", 10},
        {"keepalives_interval", 5},
        {"keepalives_count", 3},
        {"tcp_user_timeout", 20000},
    };
    QString out = database;
    for (const auto& [key, value] : defaults)
        if (!keys.contains(QLatin1String(key)))
            out += QStringLiteral(" %1=%2").arg(QLatin1String(key)).arg(value);
    return out;
}
