// Publishing to the event's server when section Event names one: the
// outbox triggers, the publisher thread, its line on the status page and in
// Memo3, and the combined ranking of all stations on the ranking page.
#include "Ukorvane.h"
#include "WindowHost.h"

#include "DataDir.h"
#include "Framework.h"

#include "Database.h"
#include "EventSettings.h"
#include "Outbox.h"
#include "Publisher.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QStandardItemModel>
#include <QTableView>
#include <QTime>
#include <QTimer>

#include <cstdio>
#include <optional>

namespace {

const int kRefreshMs = 5000;

QString describe(const PublisherStatus& s) {
    QString text = s.connected    ? QCoreApplication::translate("TFkorvane", "接続済み")
                   : s.unanswered ? QCoreApplication::translate("TFkorvane", "応答なし")
                                  : QCoreApplication::translate("TFkorvane", "未接続");
    if (s.waiting >= 0)
        text += QCoreApplication::translate("TFkorvane", "　未送信 %1 件").arg(s.waiting);
    if (!s.lastError.isEmpty())
        text += QStringLiteral("　") + s.lastError;
    if (!s.localError.isEmpty())
        text += QStringLiteral("　") + s.localError;
    return text;
}

} // namespace

struct TFkorvane::EventLink {
    EventSettings settings;
    std::unique_ptr<Publisher> publisher;
    QLabel* status = nullptr;
    QCheckBox* allStations = nullptr;
    QTableView* grid = nullptr;
    QStandardItemModel* model = nullptr;
    QLabel* note = nullptr;
    QTimer* refresh = nullptr;
    std::optional<PublisherStatus> told; // what Memo3 was last told
    // The combined ranking last read, kept for the live page.
    QList<EventServer::RankingEntry> rows;
    QString error;
    qint64 readAtMs = 0;
};

void TFkorvane::startEventLink() {
    const EventSettings settings = LoadEventSettings(iniPath());
    if (!settings.enabled()) {
        Outbox::uninstall(SpeedDb::database());
        return;
    }
    // Captured from now on even while the settings are wrong, so that the
    // attempts reach the server once they are mended.
    Outbox::install(SpeedDb::database());
    auto link = std::make_shared<EventLink>();
    eventLink_ = link;
    link->settings = settings;

    link->status = new QLabel(host_->page(QStringLiteral("status")));
    link->status->setObjectName(QStringLiteral("EventStatus"));
    link->status->setGeometry(14, 326, 612, 18);
    link->status->show();

    link->allStations =
        new QCheckBox(QCoreApplication::translate("TFkorvane", "全ステーション"), TabSheet5);
    link->allStations->setObjectName(QStringLiteral("AllStations"));
    link->allStations->setGeometry(520, 210, 110, 22);
    link->allStations->show();

    link->model = new QStandardItemModel(0, 4, TabSheet5);
    link->model->setHorizontalHeaderLabels(
        {QCoreApplication::translate("TFkorvane", "ﾄﾗﾝｽﾎﾟﾝﾀﾞｰID"),
         QCoreApplication::translate("TFkorvane", "名前"),
         QCoreApplication::translate("TFkorvane", "スピード"),
         QCoreApplication::translate("TFkorvane", "ステーション")});
    link->grid = new QTableView(TabSheet5);
    link->grid->setObjectName(QStringLiteral("DBGridAll"));
    link->grid->setGeometry(DBGrid1->geometry());
    link->grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    link->grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    link->grid->verticalHeader()->setDefaultSectionSize(18);
    link->grid->verticalHeader()->hide();
    link->grid->setModel(link->model);
    link->grid->setColumnWidth(0, 84);
    link->grid->setColumnWidth(1, 110);
    link->grid->setColumnWidth(2, 60);
    link->grid->hide();
    link->note = new QLabel(link->grid);
    link->note->setObjectName(QStringLiteral("AllStationsNote"));
    link->note->setGeometry(8, 30, DBGrid1->width() - 16, 60);
    link->note->setWordWrap(true);
    link->note->hide();

    // Read while someone looks at it: the ranking page's toggle, or the
    // live page (its clients come and go without the window knowing).
    const auto showing = [this] {
        return eventLink_ && ((eventLink_->allStations->isChecked() && activePage() == TabSheet5) ||
                              host_->combinedRankingWanted());
    };
    connect(link->allStations, &QCheckBox::toggled, this, [this](bool all) {
        DBGrid1->setVisible(!all);
        eventLink_->grid->setVisible(all);
        if (all && eventLink_->publisher)
            eventLink_->publisher->requestRanking();
    });

    const QString problem = EventSettingsProblem(settings);
    if (!problem.isEmpty()) {
        PublisherStatus s;
        s.lastError = problem;
        eventStatusChanged(s);
        link->note->setText(problem);
        link->note->show();
        link->error = problem;
        CombinedRanking shared;
        shared.event = settings.Event;
        shared.error = problem;
        host_->setCombinedRanking(shared);
        return;
    }

    link->publisher = std::make_unique<Publisher>(settings, databasePathIn(dataDir_));
    connect(link->publisher.get(), &Publisher::statusChanged, this,
            [this](const PublisherStatus& s) { eventStatusChanged(s); });
    connect(link->publisher.get(), &Publisher::published, this, [this, showing] {
        if (showing())
            eventLink_->publisher->requestRanking();
    });
    connect(link->publisher.get(), &Publisher::rankingReady, this,
            [this](const QList<EventServer::RankingEntry>& rows, const QString& error) {
                showCombinedRanking(rows, error);
            });
    link->refresh = new QTimer(this);
    link->refresh->setInterval(kRefreshMs);
    connect(link->refresh, &QTimer::timeout, this, [this, showing] {
        if (showing())
            eventLink_->publisher->requestRanking();
    });
    link->refresh->start();
    connect(host_, &Host::combinedRankingRequested, this, [this] {
        if (eventLink_->publisher)
            eventLink_->publisher->requestRanking();
    });
    link->publisher->start();
}

void TFkorvane::eventStatusChanged(const PublisherStatus& s) {
    EventLink& link = *eventLink_;
    const QString text = QCoreApplication::translate("TFkorvane", "イベント %1 / %2: %3")
                             .arg(link.settings.Event, link.settings.Station, describe(s));
    link.status->setText(text);
    link.status->setToolTip(
        QStringList({s.lastError, s.localError}).join(QLatin1Char('\n')).trimmed());
    // Memo3 and the terminal hear of a change of connection or error, not
    // of every attempt sent.
    if (link.told && link.told->connected == s.connected && link.told->unanswered == s.unanswered &&
        link.told->lastError == s.lastError && link.told->localError == s.localError)
        return;
    link.told = s;
    memoAdd(Memo3, QTime::currentTime().toString(QStringLiteral("HH:mm:ss ")) + text);
    const QByteArray line = "korvane: " + text.toUtf8() + '\n';
    std::fputs(line.constData(), stderr);
    std::fflush(stderr);
}

void TFkorvane::showCombinedRanking(const QList<EventServer::RankingEntry>& rows,
                                    const QString& error) {
    EventLink& link = *eventLink_;
    link.error = error;
    if (error.isEmpty()) {
        link.rows = rows;
        link.readAtMs = QDateTime::currentMSecsSinceEpoch();
    }
    CombinedRanking shared;
    shared.event = link.settings.Event;
    shared.error = link.error;
    shared.readAtMs = link.readAtMs;
    for (const EventServer::RankingEntry& e : std::as_const(link.rows))
        shared.rows.append({e.rank, e.tpid, e.name, e.speedText, e.station});
    host_->setCombinedRanking(shared);
    if (!error.isEmpty()) {
        // What was read before stays, under the reason it is not fresh.
        link.note->setText(
            QCoreApplication::translate("TFkorvane", "全ステーションの順位を読めません: %1")
                .arg(error));
        link.note->show();
        return;
    }
    link.note->hide();
    link.model->setRowCount(0);
    for (const EventServer::RankingEntry& e : rows) {
        QList<QStandardItem*> row{new QStandardItem(e.tpid), new QStandardItem(e.name),
                                  new QStandardItem(e.speedText), new QStandardItem(e.station)};
        row.at(0)->setTextAlignment(Qt::AlignCenter);
        row.at(2)->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        link.model->appendRow(row);
    }
}
