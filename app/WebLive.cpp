// The live results page for spectators (web/): started here when section
// "Web" of "Korvane.ini" enables it. It is told of every published speed and
// of the decoders' state; it runs in a thread of its own, so a slow browser
// never holds up measuring or decoder input. A port that cannot be opened
// leaves the window working and is said on the status page and in Memo3.
#include "Ukorvane.h"
#include "WindowHost.h"

#include "Framework.h"
#include "WebSettings.h"
#include "WindowParts.h"

#include "Database.h"
#include "DecoderHealth.h"
#include "LiveWeb.h"
#include "WebText.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QPlainTextEdit>
#include <QStackedWidget>
#include <QTimer>

#include <cstdio>

void TFkorvane::buildWebLive() {
    const WebSettings w = LoadWebSettings(iniPath());
    if (!w.Enabled || web_)
        return;
    const auto tell = [this](const QString& line) {
        host_->setStatusLine(QStringLiteral("Web"), {line, {}});
        memoAdd(Memo3, line);
        const QByteArray bytes = "korvane: " + line.toUtf8() + '\n';
        std::fputs(bytes.constData(), stderr);
        std::fflush(stderr);
    };
    const std::optional<webtext::ListenAddress> at = webtext::parseListen(w.Listen);
    if (!at) {
        tell(tr("ウェブページを開始できません: Listen=%1 は「アドレス:ポート」ではありません")
                 .arg(w.Listen));
        return;
    }
    LiveServer::Options o;
    o.dbPath = SpeedDb::database().databaseName();
    o.address = at->address;
    o.port = at->port;
    o.suspectShown = Checks.HoldSuspect == 0;
    o.publicUrl = w.PublicUrl;
    o.maxConnections = w.MaxConnections;
    o.maxPerAddress = w.MaxPerAddress;
    o.requestTimeoutMs = w.RequestTimeout * 1000;
    o.idleTimeoutMs = w.IdleTimeout * 1000;
    web_ = new LiveWeb(o, this);
    // The status page says where phones open the page, or plainly that
    // none can: a share code for a loopback address leads nowhere.
    connect(web_, &LiveWeb::started, this,
            [tell](bool ok, const QString& message, const QStringList& phoneUrls) {
                if (!ok)
                    tell(tr("ウェブページを開始できません: %1").arg(message));
                else if (phoneUrls.isEmpty())
                    tell(tr("ウェブページ: %1（このPCからのみ見られます。スマートフォンからは "
                            "[Web] の Listen を 0.0.0.0 にするか PublicUrl を設定）")
                             .arg(message));
                else
                    tell(tr("ウェブページ: %1　スマートフォンからは %2")
                             .arg(message, phoneUrls.join(QStringLiteral("  "))));
            });
    // A file the pages cannot read goes to the event log, not the status
    // line: the page is still up and shows what it read before.
    connect(web_, &LiveWeb::readFailed, this, [this](const QString& why) {
        const QString line = tr("ウェブページ: 結果を読めません: %1").arg(why);
        note(QLatin1Char(' ') + line);
        windowparts::tellTerminal(line);
    });
    connect(web_, &LiveWeb::readRecovered, this, [this] {
        const QString line = tr("ウェブページ: 結果を再び読めます");
        note(QLatin1Char(' ') + line);
        windowparts::tellTerminal(line);
    });
    connect(host_, &Host::speedShown, web_, &LiveWeb::publish);
    // The decoders' state as the status page tells it, every watch tick;
    // the server passes on only changes.
    connect(host_, &Host::loopStatesChanged, web_, [this](const QList<LoopState>& states) {
        QJsonArray loops;
        for (const LoopState& s : states)
            loops.append(
                QJsonObject{{QStringLiteral("loop"), s.loop}, {QStringLiteral("state"), s.state}});
        web_->setDecoders(loops);
    });
    // The event's combined ranking, when this station is in one: what was
    // read so far, and a fresh read (it is read while the page is on).
    const auto ranking = [this] {
        const CombinedRanking& c = host_->combinedRanking();
        webtext::EventRanking r;
        r.event = c.event;
        r.error = c.error;
        r.readAtMs = c.readAtMs;
        r.rows.reserve(c.rows.size());
        for (const CombinedRanking::Row& e : c.rows)
            r.rows.append(webtext::RankRow{e.rank, e.tpid, e.name, e.speedText, e.station});
        web_->setEventRanking(r);
    };
    connect(host_, &Host::combinedRankingChanged, web_, ranking);
    web_->start();
    if (!host_->combinedRanking().event.isEmpty())
        ranking();
    host_->wantCombinedRanking();
}
