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
    return QJsonObject{
        {QStringLiteral("seq"), double(e.seq)}, {QStringLiteral("tpid"), e.tpid},
        {QStringLiteral("name"), e.name},       {QStringLiteral("speed"), e.speedText},
        {QStringLiteral("at"), double(e.atMs)}, {QStringLiteral("best"), e.newBest}};
}

QJsonArray rankingJson(const QVector<RankRow>& rows) {
    QJsonArray out;
    for (const RankRow& r : rows)
        out.append(QJsonObject{{QStringLiteral("rank"), r.rank},
                               {QStringLiteral("tpid"), r.tpid},
                               {QStringLiteral("name"), r.name},
                               {QStringLiteral("speed"), r.speedText}});
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
        {QStringLiteral("error"), r.error.isEmpty() ? QJsonValue() : QJsonValue(r.error)},
        {QStringLiteral("at"), r.readAtMs > 0 ? QJsonValue(double(r.readAtMs)) : QJsonValue()},
        {QStringLiteral("count"), int(r.rows.size())},
        {QStringLiteral("rows"), rows}};
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
