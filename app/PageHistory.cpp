// The history page: every attempt, newest first, with its flags and status;
// the operator accepts or rejects attempts, corrects the section length of
// some, and writes them to a CSV file. The records side (Review, History)
// decides what each of these does to the best speeds.
#include "Ukorvane.h"

#include "CuteBtn.h"
#include "Framework.h"
#include "WindowParts.h"

#include "History.h"
#include "Review.h"

#include <QBrush>
#include <QCheckBox>
#include <QColor>
#include <QDate>
#include <QDateTime>
#include <QDateTimeEdit>
#include <QDir>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QTableView>

#include <algorithm>

using namespace windowparts;

struct TFkorvane::HistoryPage {
    QTableView* grid = nullptr;
    HistoryModel* model = nullptr;
    QLineEdit* filter = nullptr;
    QLineEdit* dist = nullptr;
    QCheckBox* byRange = nullptr;
    QDateTimeEdit* from = nullptr;
    QDateTimeEdit* to = nullptr;
    QLabel* note = nullptr;
};

namespace {

// The history's rows as the grid shows them: a marked row gets its colours.
class HistoryColours : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::BackgroundRole && role != Qt::ForegroundRole)
            return QIdentityProxyModel::data(index, role);
        using Mark = HistoryModel::Mark;
        const auto mark = Mark(QIdentityProxyModel::data(index, HistoryModel::MarkRole).toInt());
        const bool standsOut = mark == Mark::ForReview || mark == Mark::NotMeasured;
        if (role == Qt::BackgroundRole) {
            if (mark == Mark::ForReview)
                return QBrush(QColor(255, 205, 130));
            if (mark == Mark::NotMeasured)
                return QBrush(QColor(200, 215, 240));
            return {};
        }
        if (standsOut)
            return QBrush(Qt::black);
        if (mark == Mark::Rejected)
            return QBrush(QColor(128, 128, 128));
        return {};
    }
};

Review::Rules rulesOf(const SuspectChecks& c) {
    Review::Rules r;
    // With suspect attempts held, one counts only once accepted.
    r.suspectCounts = c.HoldSuspect == 0;
    r.limits.minKmh = c.MinKmh;
    r.limits.maxKmh = c.MaxKmh;
    r.limits.doubleReadMs = c.DoubleReadMs;
    r.limits.maxSectionS = c.MaxSectionS;
    return r;
}

TCuteButton* button(const QString& caption, const char* name, QWidget* parent, int x, int y,
                    int w) {
    auto* b = new TCuteButton(caption, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(x, y, w, 26);
    return b;
}

} // namespace

void TFkorvane::buildHistoryPage() {
    TabSheet8 = new QWidget(PageControl1);
    TabSheet8->setObjectName(QStringLiteral("TabSheet8"));
    PageControl1->addWidget(TabSheet8);
    QWidget* p = TabSheet8;
    historyPage_ = std::make_shared<HistoryPage>();
    HistoryPage& h = *historyPage_;

    h.grid = new QTableView(p);
    h.grid->setObjectName(QStringLiteral("HistoryGrid"));
    h.grid->setGeometry(6, 6, 446, 340);
    h.grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    h.grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    h.grid->setSelectionMode(QAbstractItemView::ExtendedSelection);
    h.grid->verticalHeader()->setDefaultSectionSize(18);
    h.grid->verticalHeader()->hide();
    h.grid->setWordWrap(false);
    h.model = new HistoryModel(this);
    // The grid's rows are the model's, one for one (selectedIds).
    auto* colours = new HistoryColours(this);
    colours->setSourceModel(h.model);
    h.grid->setModel(colours);
    // Room for an eight-digit transponder ID.
    const int widths[HistoryModel::ColumnCount] = {60, 72, 60, 56, 36, 80, 60};
    for (int c = 0; c < HistoryModel::ColumnCount; ++c)
        h.grid->setColumnWidth(c, widths[c]);
    connect(
        h.model, &HistoryModel::fetchFailed, this, [](const QString& why) { ShowErrorBox(why); },
        Qt::QueuedConnection);

    const int x = 458;
    label(tr("ID"), p, x, 10);
    h.filter = new QLineEdit(p);
    h.filter->setObjectName(QStringLiteral("HistoryFilter"));
    h.filter->setGeometry(x + 24, 6, 152, 22);
    h.filter->setPlaceholderText(tr("すべて"));
    connect(h.filter, &QLineEdit::returnPressed, this,
            [this] { runHandler([this] { showHistory(); }); });

    connect(button(tr("承認"), "HistoryAccept", p, x, 34, 84), &TCuteButton::clicked, this,
            [this] { runHandler([this] { reviewSelected(true); }); });
    connect(button(tr("却下"), "HistoryReject", p, x + 92, 34, 84), &TCuteButton::clicked, this,
            [this] { runHandler([this] { reviewSelected(false); }); });

    frame(p, x, 68, 176, 158);
    label(tr("区間長の訂正"), p, x + 6, 72);
    h.dist = new QLineEdit(p);
    h.dist->setObjectName(QStringLiteral("HistoryDist"));
    h.dist->setGeometry(x + 6, 94, 70, 22);
    label(tr("cm"), p, x + 80, 96);
    h.byRange = new QCheckBox(tr("選択でなく期間で"), p);
    h.byRange->setObjectName(QStringLiteral("HistoryByRange"));
    h.byRange->setGeometry(x + 6, 120, 166, 20);
    const QDate today = QDate::currentDate();
    h.from = new QDateTimeEdit(QDateTime(today, QTime(0, 0)), p);
    h.to = new QDateTimeEdit(QDateTime(today, QTime(23, 59, 59)), p);
    h.from->setObjectName(QStringLiteral("HistoryFrom"));
    h.to->setObjectName(QStringLiteral("HistoryTo"));
    for (QDateTimeEdit* e : {h.from, h.to})
        e->setDisplayFormat(QStringLiteral("yyyy/MM/dd HH:mm:ss"));
    h.from->setGeometry(x + 6, 142, 164, 22);
    h.to->setGeometry(x + 6, 166, 164, 22);
    connect(button(tr("訂正"), "HistoryCorrect", p, x + 6, 194, 84), &TCuteButton::clicked, this,
            [this] { runHandler([this] { correctDistance(); }); });

    connect(button(tr("CSV出力"), "HistoryCsv", p, x, 234, 84), &TCuteButton::clicked, this,
            [this] { runHandler([this] { exportHistory(); }); });

    h.note = label(QString(), p, x, 268, 176, 78);
    h.note->setObjectName(QStringLiteral("HistoryNote"));
    h.note->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    h.note->setWordWrap(true);

    connect(N8, &QAction::triggered, this, [this] { runHandler([this] { N8Click(); }); });
}

// Turning to the page reads it afresh (onPageChanged); asking for it again
// while it shows does the same.
void TFkorvane::N8Click() {
    if (activePage() == TabSheet8)
        showHistory();
    else
        setActivePage(TabSheet8);
}

void TFkorvane::showHistory() {
    HistoryPage& h = *historyPage_;
    h.model->setFilter(h.filter->text().trimmed());
    h.model->refresh();
    h.note->setText(h.model->filter().isEmpty()
                        ? tr("すべての計測（新しい順）")
                        : tr("ID %1 の計測（新しい順）").arg(h.model->filter()));
}

namespace {

QVector<qint64> selectedIds(QTableView* grid, const HistoryModel* model) {
    QVector<qint64> ids;
    for (const QModelIndex& i : grid->selectionModel()->selectedRows())
        ids << model->at(i.row()).id;
    std::sort(ids.begin(), ids.end());
    return ids;
}

} // namespace

void TFkorvane::reviewSelected(bool accept) {
    HistoryPage& h = *historyPage_;
    const QVector<qint64> ids = selectedIds(h.grid, h.model);
    if (ids.isEmpty()) {
        ShowMessage(tr("計測を選択してください。"));
        return;
    }
    const Review::Outcome o =
        accept ? Review::accept(ids, rulesOf(Checks)) : Review::reject(ids, rulesOf(Checks));
    h.model->reread(ids);
    h.note->setText(
        (accept ? tr("%1 件を承認しました。") : tr("%1 件を却下しました。")).arg(o.attempts) +
        QLatin1Char('\n') + tr("最高速度が変わったトランスポンダー: %1 台").arg(o.bests));
}

void TFkorvane::correctDistance() {
    HistoryPage& h = *historyPage_;
    const std::optional<int> cm = Review::sectionLength(h.dist->text());
    if (!cm) {
        ShowMessage(tr("区間長は 1～5000 の整数（cm）で入力してください。"));
        return;
    }
    QVector<qint64> ids;
    if (h.byRange->isChecked()) {
        const qint64 from = h.from->dateTime().toMSecsSinceEpoch();
        // The end second is included to its last millisecond.
        const qint64 to = h.to->dateTime().toMSecsSinceEpoch() + 999;
        ids = Review::attemptsBetween(from, to, h.model->filter());
    } else {
        ids = selectedIds(h.grid, h.model);
    }
    if (ids.isEmpty()) {
        ShowMessage(h.byRange->isChecked() ? tr("この期間の計測はありません。")
                                           : tr("計測を選択してください。"));
        return;
    }
    const Review::Rules rules = rulesOf(Checks);
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const Review::Outcome would = Review::correct(ids, *cm, now, rules, false);
    if (would.attempts == 0) {
        ShowMessage(tr("選んだ計測の区間長はすでに %1 cm です。").arg(*cm));
        return;
    }
    if (!MessageYesNo(tr("確認してください。"),
                      tr("%1 件の計測の区間長を %2 cm に訂正し、スピードを計算し直します。\n"
                         "対象のトランスポンダー %3 台のうち、%4 台の最高速度が変わります。\n"
                         "よろしいですか？")
                          .arg(would.attempts)
                          .arg(*cm)
                          .arg(would.transponders)
                          .arg(would.bests)))
        return;
    const Review::Outcome o =
        Review::correct(ids, *cm, QDateTime::currentMSecsSinceEpoch(), rules, true);
    h.model->reread(ids);
    h.note->setText(tr("%1 件の区間長を %2 cm に訂正しました。").arg(o.attempts).arg(*cm) +
                    QLatin1Char('\n') +
                    tr("最高速度が変わったトランスポンダー: %1 台").arg(o.bests));
}

void TFkorvane::exportHistory() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString suggested =
        QDir(folder.isEmpty() ? QDir::homePath() : folder)
            .filePath(QStringLiteral("history-%1.csv")
                          .arg(QDate::currentDate().toString(QStringLiteral("yyyyMMdd"))));
    const QString path = chooseCsvPath ? chooseCsvPath(this, suggested) : QString();
    if (path.isEmpty())
        return;
    const qint64 n = exportAttemptsCsv(path, historyPage_->model->filter());
    ShowMessage(
        tr("計測 %1 件を %2 に書き出しました。").arg(n).arg(QDir::toNativeSeparators(path)));
}
