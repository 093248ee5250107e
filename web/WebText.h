#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

// What the live web page sends: texts from decoders and operators (IDs,
// names) travel inside JSON and HTML made here, escaped so that a name such
// as "<script>" is shown as text wherever it lands.
namespace webtext {

// Text for HTML element content and quoted attribute values.
QString htmlEscape(const QString& text);

// Compact JSON in which "<", ">" and "&" and the two line separators that
// end a JavaScript string are written as \u escapes: the same bytes are
// safe inside a <script> element or sniffed as HTML by an old browser.
QByteArray json(const QJsonObject& object);

// One published speed.
struct SpeedEvent {
    qint64 seq = 0; // grows by one per published speed since the server started
    QString tpid;
    QString name;
    QString speedText;
    qint64 atMs = 0; // PC time, UTC milliseconds
    bool newBest = false;
    QString className; // the class it was measured in; empty: none (not sent)
};
QJsonObject speedJson(const SpeedEvent& e);

struct RankRow {
    int rank = 0; // equal speeds share a rank
    QString tpid;
    QString name;
    QString speedText;
    QString station; // in the event's combined ranking: the station that measured it
};
QJsonArray rankingJson(const QVector<RankRow>& rows);

// The event's combined ranking of all stations, as this station last read
// it from the event's server.
struct EventRanking {
    QString event;
    QVector<RankRow> rows; // best first; from the last read that worked
    QString error;         // why the last read failed; empty when it worked (never sent)
    qint64 readAtMs = 0;   // UTC milliseconds of the last read that worked; 0: none yet
};
// {"event", "available", "error", "at", "count", "rows"}: at most maxRows
// rows (all when negative), each with its station. "error" is only
// "unavailable" or null: why the server could not be read (its address, its
// driver's text) is the operator's, not the spectators'.
QJsonObject eventRankingJson(const EventRanking& r, int maxRows = -1);

// "http://host:port/", the IPv6 address in brackets.
QString pageUrl(const QHostAddress& host, quint16 port);

// The addresses a phone on the network opens the page at: publicUrl when it
// is set; for a server listening on every interface, each interface address
// of that family but loopback and link-local ones; for one listening on one
// address, that address unless it is loopback. None: only this PC can.
QStringList phoneUrls(const QHostAddress& listen, quint16 port,
                      const QList<QHostAddress>& interfaces, const QString& publicUrl);

// The page with each {{key}} replaced by its value, in one pass: a value
// that holds a placeholder's text stays as it is.
QString fillPlaceholders(const QString& page, const QHash<QString, QString>& values);

// "host:port" of key Listen; "[::1]:8080" for IPv6. Nothing for a text that
// is no address, or a port outside 1..65535.
struct ListenAddress {
    QHostAddress address;
    quint16 port = 0;
};
std::optional<ListenAddress> parseListen(const QString& text);

} // namespace webtext
