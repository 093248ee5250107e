#include "WebText.h"

#include <QJsonDocument>

namespace webtext {

QString htmlEscape(const QString& text) {
    QString out;
    out.reserve(text.size() + text.size() / 8);
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '<':
            out += QLatin1String("&lt;");
            break;
        case '>':
            out += QLatin1String("&gt;");
            break;
        case '&':
            out += QLatin1String("&amp;");
            break;
        case '"':
            out += QLatin1String("&quot;");
            break;
        case '\'':
            out += QLatin1String("&#39;");
            break;
        default:
            out += c;
        }
    }
    return out;
}

QByteArray json(const QJsonObject& object) {
    const QByteArray plain = QJsonDocument(object).toJson(QJsonDocument::Compact);
    // Outside strings JSON has none of these bytes, so every one found is
    // inside a string, where the \u form means the same character.
    QByteArray out;
    out.reserve(plain.size() + 16);
    for (qsizetype i = 0; i < plain.size(); ++i) {
        const char c = plain.at(i);
        if (c == '<')
            out += "\\u003c";
        else if (c == '>')
            out += "\\u003e";
        else if (c == '&')
            out += "\\u0026";
        else if (c == '\xE2' && i + 2 < plain.size() && plain.at(i + 1) == '\x80' &&
                 (plain.at(i + 2) == '\xA8' || plain.at(i + 2) == '\xA9')) {
            out += plain.at(i + 2) == '\xA8' ? "\\u2028" : "\\u2029";
            i += 2;
        } else
            out += c;
    }
    return out;
}

QJsonObject speedJson(const SpeedEvent& e) {
    QJsonObject o{{QStringLiteral("seq"), double(e.seq)}, {QStringLiteral("tpid"), e.tpid},
                  {QStringLiteral("name"), e.name},       {QStringLiteral("speed"), e.speedText},
                  {QStringLiteral("at"), double(e.atMs)}, {QStringLiteral("best"), e.newBest}};
    // A station without classes sends what it always sent.
    if (!e.className.isEmpty())
        o.insert(QStringLiteral("class"), e.className);
    return o;
}

QJsonArray rankingJson(const QVector<RankRow>& rows) {
    QJsonArray out;
    for (const RankRow& r : rows) {
        QJsonObject o{{QStringLiteral("rank"), r.rank},
                      {QStringLiteral("tpid"), r.tpid},
                      {QStringLiteral("name"), r.name},
                      {QStringLiteral("speed"), r.speedText}};
        // Rows read from an event's server say where they were measured.
        if (!r.station.isEmpty())
            o.insert(QStringLiteral("station"), r.station);
        out.append(o);
    }
    return out;
}

QJsonObject eventRankingJson(const EventRanking& r, int maxRows) {
    QJsonArray rows;
    for (const RankRow& row : r.rows) {
        if (maxRows >= 0 && rows.size() >= maxRows)
            break;
        rows.append(QJsonObject{{QStringLiteral("rank"), row.rank},
                                {QStringLiteral("tpid"), row.tpid},
                                {QStringLiteral("name"), row.name},
                                {QStringLiteral("speed"), row.speedText},
                                {QStringLiteral("station"), row.station}});
    }
    return QJsonObject{
        {QStringLiteral("event"), r.event},
        {QStringLiteral("available"), r.error.isEmpty() && r.readAtMs > 0},
        {QStringLiteral("error"),
         r.error.isEmpty() ? QJsonValue() : QJsonValue(QStringLiteral("unavailable"))},
        {QStringLiteral("at"), r.readAtMs > 0 ? QJsonValue(double(r.readAtMs)) : QJsonValue()},
        {QStringLiteral("count"), int(r.rows.size())},
        {QStringLiteral("rows"), rows}};
}

QString pageUrl(const QHostAddress& host, quint16 port) {
    const QString h = host.protocol() == QAbstractSocket::IPv6Protocol
                          ? QLatin1Char('[') + host.toString() + QLatin1Char(']')
                          : host.toString();
    return QStringLiteral("http://%1:%2/").arg(h).arg(port);
}

QStringList phoneUrls(const QHostAddress& listen, quint16 port,
                      const QList<QHostAddress>& interfaces, const QString& publicUrl) {
    if (!publicUrl.trimmed().isEmpty())
        return {publicUrl.trimmed()};
    const bool any4 = listen == QHostAddress::Any || listen == QHostAddress::AnyIPv4;
    const bool any6 = listen == QHostAddress::AnyIPv6;
    if (!any4 && !any6)
        return listen.isLoopback() ? QStringList() : QStringList{pageUrl(listen, port)};
    const auto family = any6 ? QAbstractSocket::IPv6Protocol : QAbstractSocket::IPv4Protocol;
    QStringList out;
    for (const QHostAddress& a : interfaces) {
        if (a.protocol() != family || a.isLoopback() || a.isLinkLocal())
            continue;
        QHostAddress plain = a;
        plain.setScopeId(QString());
        const QString url = pageUrl(plain, port);
        if (!out.contains(url))
            out << url;
    }
    return out;
}

QString fillPlaceholders(const QString& page, const QHash<QString, QString>& values) {
    QString out;
    out.reserve(page.size());
    qsizetype at = 0;
    for (;;) {
        const qsizetype open = page.indexOf(QLatin1String("{{"), at);
        const qsizetype close = open < 0 ? -1 : page.indexOf(QLatin1String("}}"), open + 2);
        if (close < 0)
            break;
        const QString key = page.mid(open + 2, close - open - 2);
        const auto v = values.constFind(key);
        if (v == values.cend()) {
            out += QStringView(page).mid(at, open + 2 - at);
            at = open + 2;
            continue;
        }
        out += QStringView(page).mid(at, open - at);
        out += *v;
        at = close + 2;
    }
    out += QStringView(page).mid(at);
    return out;
}

std::optional<ListenAddress> parseListen(const QString& text) {
    const QString t = text.trimmed();
    const qsizetype colon = t.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return std::nullopt;
    QString host = t.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    else if (host.contains(QLatin1Char(':')))
        return std::nullopt; // an IPv6 address needs its brackets
    bool ok = false;
    const uint port = t.mid(colon + 1).toUInt(&ok);
    if (!ok || port == 0 || port > 65535)
        return std::nullopt;
    ListenAddress a;
    if (host == QLatin1String("localhost"))
        a.address = QHostAddress(QHostAddress::LocalHost);
    else if (!a.address.setAddress(host))
        return std::nullopt;
    a.port = quint16(port);
    return a;
}

} // namespace webtext
