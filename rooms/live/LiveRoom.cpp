// A port that cannot be opened leaves the window working: it is said on the
// status page, in Memo3 and on the terminal.
#include "LiveRoom.h"

#include "PageParts.h"
#include "WebSettings.h"

#include "LiveWeb.h"
#include "WebText.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonObject>

LiveRoom::LiveRoom(Host& h) : Room(h) {}

LiveRoom::~LiveRoom() = default;

void LiveRoom::tell(const QString& line) {
    host.setStatusLine(QStringLiteral("Web"), {line, {}});
    host.log(line);
    windowparts::tellTerminal(line);
}

void LiveRoom::started() {
    const WebSettings w = LoadWebSettings(host.iniPath());
    if (!w.Enabled || web_)
        return;
    const std::optional<webtext::ListenAddress> at = webtext::parseListen(w.Listen);
    if (!at) {
        tell(QCoreApplication::translate(
                 "TFkorvane",
                 "ウェブページを開始できません: Listen=%1 は「アドレス:ポート」ではありません")
                 .arg(w.Listen));
        return;
    }
    LiveServer::Options o;
    o.dbPath = host.databasePath();
    o.address = at->address;
    o.port = at->port;
    o.suspectShown = host.suspectChecks().HoldSuspect == 0;
    o.publicUrl = w.PublicUrl;
    o.maxConnections = w.MaxConnections;
    o.maxPerAddress = w.MaxPerAddress;
    o.requestTimeoutMs = w.RequestTimeout * 1000;
    o.idleTimeoutMs = w.IdleTimeout * 1000;
    web_ = new LiveWeb(o, this);
    // The status page says where phones open the page, or plainly that
    // none can: a share code for a loopback address leads nowhere.
    connect(web_, &LiveWeb::started, this,
            [this](bool ok, const QString& message, const QStringList& phoneUrls) {
                if (!ok)
                    tell(
                        QCoreApplication::translate("TFkorvane", "ウェブページを開始できません: %1")
                            .arg(message));
                else if (phoneUrls.isEmpty())
                    tell(QCoreApplication::translate(
                             "TFkorvane",
                             "ウェブページ: %1（このPCからのみ見られます。スマートフォンからは "
                             "[Web] の Listen を 0.0.0.0 にするか PublicUrl を設定）")
                             .arg(message));
                else
                    tell(QCoreApplication::translate("TFkorvane",
                                                     "ウェブページ: %1　スマートフォンからは %2")
                             .arg(message, phoneUrls.join(QStringLiteral("  "))));
            });
    // A file the pages cannot read goes to the event log, not the status
    // line: the page is still up and shows what it read before.
    connect(web_, &LiveWeb::readFailed, this, [this](const QString& why) {
        const QString line =
            QCoreApplication::translate("TFkorvane", "ウェブページ: 結果を読めません: %1").arg(why);
        host.note(QLatin1Char(' ') + line);
        windowparts::tellTerminal(line);
    });
    connect(web_, &LiveWeb::readRecovered, this, [this] {
        const QString line =
            QCoreApplication::translate("TFkorvane", "ウェブページ: 結果を再び読めます");
        host.note(QLatin1Char(' ') + line);
        windowparts::tellTerminal(line);
    });
    connect(&host, &Host::speedShown, web_, &LiveWeb::publish);
    // The decoders' state as the status page tells it, every watch tick;
    // the server passes on only changes.
    connect(&host, &Host::loopStatesChanged, web_, [this](const QList<LoopState>& states) {
        QJsonArray loops;
        for (const LoopState& s : states)
            loops.append(
                QJsonObject{{QStringLiteral("loop"), s.loop}, {QStringLiteral("state"), s.state}});
        web_->setDecoders(loops);
    });
    // The event's combined ranking, when this station is in one: what was
    // read so far, and a fresh read (it is read while the page is on).
    connect(&host, &Host::combinedRankingChanged, web_, [this] { passRanking(); });
    // A driver's record attempt (two-way runs), as the record room last told.
    connect(&host, &Host::recordStatesChanged, web_, [this] { passRecords(); });
    if (!host.recordStates().isEmpty())
        passRecords();
    web_->start();
    if (!host.combinedRanking().event.isEmpty())
        passRanking();
    host.wantCombinedRanking();
}

void LiveRoom::passRecords() {
    QHash<QString, QJsonObject> byTpid;
    for (const RecordState& s : host.recordStates()) {
        QJsonObject o{{QStringLiteral("state"), s.state},
                      {QStringLiteral("first"), s.firstRunText},
                      {QStringLiteral("reason"), s.reason}};
        if (s.windowEndsMs > 0)
            o.insert(QStringLiteral("until"), double(s.windowEndsMs));
        if (!s.resultText.isEmpty())
            o.insert(QStringLiteral("result"), s.resultText);
        byTpid.insert(s.tpid, o);
    }
    web_->setRecords(byTpid);
}

void LiveRoom::passRanking() {
    const CombinedRanking& c = host.combinedRanking();
    webtext::EventRanking r;
    r.event = c.event;
    r.error = c.error;
    r.readAtMs = c.readAtMs;
    r.rows.reserve(c.rows.size());
    for (const CombinedRanking::Row& e : c.rows)
        r.rows.append(webtext::RankRow{e.rank, e.tpid, e.name, e.speedText, e.station});
    web_->setEventRanking(r);
}
