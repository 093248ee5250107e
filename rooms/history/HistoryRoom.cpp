#include "HistoryRoom.h"

#include "CuteBtn.h"
#include "Framework.h"
#include "PageParts.h"

#include "History.h"
#include "Review.h"

#include <QBrush>
#include <QCheckBox>
#include <QColor>
#include <QCoreApplication>
#include <QDate>
#include <QDateTime>
#include <QDateTimeEdit>
#include <QDir>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QShortcut>
#include <QStandardPaths>
#include <QTableView>
#include <QTimer>

#include <algorithm>
#include <iterator>
#include <utility>

using namespace windowparts;

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

// However fast attempts come, the list is read at most twice a second, and
// the newest shows within half a second.
constexpr int kFollowMs = 500;

} // namespace

HistoryRoom::HistoryRoom(Host& h) : Room(h) {
    // Turning to the page reads it afresh; asking for it again while it
    // shows does the same.
    page_ = host.addPage(QCoreApplication::translate("TFkorvane", "履歴"),
                         QStringLiteral("history"), [this] { showHistory(); });
    QWidget* p = page_;

    grid_ = new QTableView(p);
    grid_->setObjectName(QStringLiteral("HistoryGrid"));
    grid_->setGeometry(6, 6, 446, 340);
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    grid_->verticalHeader()->setDefaultSectionSize(18);
    grid_->verticalHeader()->hide();
    grid_->setWordWrap(false);
    // Tab leaves the grid for the boxes and buttons beside it.
    grid_->setTabKeyNavigation(false);
    model_ = new HistoryModel(this);
    // The grid's rows are the model's, one for one (selectedIds).
    auto* colours = new HistoryColours(this);
    colours->setSourceModel(model_);
    grid_->setModel(colours);
    // Room for an eight-digit transponder ID.
    const int widths[HistoryModel::ColumnCount] = {60, 72, 60, 56, 36, 80, 60, 70, 40};
    for (int c = 0; c < HistoryModel::ColumnCount; ++c)
        grid_->setColumnWidth(c, widths[c]);
    connect(
        model_, &HistoryModel::fetchFailed, this, [](const QString& why) { ShowErrorBox(why); },
        Qt::QueuedConnection);

    const int x = 458;
    label(QCoreApplication::translate("TFkorvane", "ID"), p, x, 10);
    filter_ = new QLineEdit(p);
    filter_->setObjectName(QStringLiteral("HistoryFilter"));
    filter_->setGeometry(x + 24, 6, 152, 22);
    filter_->setPlaceholderText(QCoreApplication::translate("TFkorvane", "すべて"));
    connect(filter_, &QLineEdit::returnPressed, this,
            [this] { runHandler([this] { showHistory(); }); });

    // Goes into the chain with each review: asked for a correction, optional
    // for accepting and rejecting.
    label(QCoreApplication::translate("TFkorvane", "理由"), p, x, 36);
    reason_ = new QLineEdit(p);
    reason_->setObjectName(QStringLiteral("HistoryReason"));
    reason_->setGeometry(x + 30, 32, 146, 22);
    reason_->setPlaceholderText(QCoreApplication::translate("TFkorvane", "訂正には必須"));

    TCuteButton* accept =
        button(QCoreApplication::translate("TFkorvane", "承認"), "HistoryAccept", p, x, 58, 84);
    connect(accept, &TCuteButton::clicked, this,
            [this] { runHandler([this] { reviewSelected(true); }); });
    TCuteButton* reject = button(QCoreApplication::translate("TFkorvane", "却下"), "HistoryReject",
                                 p, x + 92, 58, 84);
    connect(reject, &TCuteButton::clicked, this,
            [this] { runHandler([this] { reviewSelected(false); }); });

    frame(p, x, 92, 176, 158);
    label(QCoreApplication::translate("TFkorvane", "区間長の訂正"), p, x + 6, 96);
    dist_ = new QLineEdit(p);
    dist_->setObjectName(QStringLiteral("HistoryDist"));
    dist_->setGeometry(x + 6, 118, 70, 22);
    label(QCoreApplication::translate("TFkorvane", "cm"), p, x + 80, 120);
    byRange_ = new QCheckBox(QCoreApplication::translate("TFkorvane", "選択でなく期間で"), p);
    byRange_->setObjectName(QStringLiteral("HistoryByRange"));
    byRange_->setGeometry(x + 6, 144, 166, 20);
    const QDate today = QDate::currentDate();
    from_ = new QDateTimeEdit(QDateTime(today, QTime(0, 0)), p);
    to_ = new QDateTimeEdit(QDateTime(today, QTime(23, 59, 59)), p);
    from_->setObjectName(QStringLiteral("HistoryFrom"));
    to_->setObjectName(QStringLiteral("HistoryTo"));
    for (QDateTimeEdit* e : {from_, to_})
        e->setDisplayFormat(QStringLiteral("yyyy/MM/dd HH:mm:ss"));
    from_->setGeometry(x + 6, 166, 164, 22);
    to_->setGeometry(x + 6, 190, 164, 22);
    // The range counts only in range mode; greyed out otherwise, and Tab does
    // not walk through their six sections each on the way to 訂正 and CSV出力.
    for (QDateTimeEdit* e : {from_, to_}) {
        e->setEnabled(false);
        connect(byRange_, &QCheckBox::toggled, e, &QWidget::setEnabled);
    }
    TCuteButton* correct = button(QCoreApplication::translate("TFkorvane", "訂正"),
                                  "HistoryCorrect", p, x + 6, 218, 84);
    connect(correct, &TCuteButton::clicked, this,
            [this] { runHandler([this] { correctDistance(); }); });

    TCuteButton* csv =
        button(QCoreApplication::translate("TFkorvane", "CSV出力"), "HistoryCsv", p, x, 258, 84);
    connect(csv, &TCuteButton::clicked, this, [this] { runHandler([this] { exportHistory(); }); });

    forReviewOnly_ = new QCheckBox(QCoreApplication::translate("TFkorvane", "要確認のみ"), p);
    forReviewOnly_->setObjectName(QStringLiteral("HistoryForReview"));
    forReviewOnly_->setGeometry(x, 288, 118, 20);
    forReviewOnly_->setToolTip(
        QCoreApplication::translate("TFkorvane", "要確認と計測不能の計測だけを表示します。\n"
                                                 "F3: 次の要確認　Shift+F3: 前の要確認"));
    connect(forReviewOnly_, &QCheckBox::toggled, this,
            [this] { runHandler([this] { showHistory(); }); });
    count_ = label(QString(), p, x + 120, 290, 56, 18);
    count_->setObjectName(QStringLiteral("HistoryCount"));
    count_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    // The order of the work: pick attempts, narrow the list, review, correct,
    // export.
    QWidget* order[] = {grid_,    filter_, reason_, accept,  reject, dist_,
                        byRange_, from_,   to_,     correct, csv,    forReviewOnly_};
    for (size_t i = 1; i < std::size(order); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);

    const auto key = [this, p](QKeySequence keys, int step) {
        auto* s = new QShortcut(keys, p);
        s->setContext(Qt::WidgetWithChildrenShortcut);
        connect(s, &QShortcut::activated, this,
                [this, step] { runHandler([this, step] { jumpToForReview(step); }); });
    };
    key(QKeySequence(Qt::Key_F3), 1);
    key(QKeySequence(Qt::SHIFT | Qt::Key_F3), -1);

    follow_ = new QTimer(this);
    follow_->setSingleShot(true);
    follow_->setInterval(kFollowMs);
    connect(follow_, &QTimer::timeout, this, [this] { followNewest(); });
    connect(&host, &Host::attemptMeasured, this, [this] {
        if (host.isShown(page_) && !follow_->isActive())
            follow_->start();
    });

    note_ = label(QString(), p, x, 312, 176, 34);
    note_->setObjectName(QStringLiteral("HistoryNote"));
    note_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    note_->setWordWrap(true);
}

HistoryRoom::~HistoryRoom() = default;

void HistoryRoom::showHistory() {
    model_->setFilter(filter_->text().trimmed());
    model_->setForReviewOnly(forReviewOnly_->isChecked());
    model_->refresh();
    showCount();
    note_->setText(model_->filter().isEmpty()
                       ? QCoreApplication::translate("TFkorvane", "すべての計測（新しい順）")
                       : QCoreApplication::translate("TFkorvane", "ID %1 の計測（新しい順）")
                             .arg(model_->filter()));
}

void HistoryRoom::showCount() {
    count_->setText(
        QCoreApplication::translate("TFkorvane", "%1 件").arg(model_->forReviewCount()));
}

void HistoryRoom::followNewest() {
    if (!host.isShown(page_))
        return;
    QScrollBar* bar = grid_->verticalScrollBar();
    const int at = bar->value();
    int added = 0;
    try {
        added = model_->followNewest();
    } catch (const std::exception& e) {
        // Told once, not every half second; the next read that works shows
        // what was missed.
        if (!std::exchange(followFailed_, true))
            host.note(QLatin1Char(' ') +
                      QCoreApplication::translate("TFkorvane", "履歴を更新できません: %1")
                          .arg(QString::fromUtf8(e.what())));
        return;
    }
    followFailed_ = false;
    if (added > 0 && at > 0) {
        // The operator looks further down: the rows in view stay in view.
        grid_->doItemsLayout();
        bar->setValue(at + added);
    }
    showCount();
}

void HistoryRoom::jumpToForReview(int step) {
    // Looks through the rows held and, forwards, a few pages more.
    int pagesLeft = 16;
    // A current row that is not selected is only where the view put its
    // cursor when it took the focus (the top row): the search includes it,
    // so that F3 on a fresh list finds a suspect newest attempt.
    const QModelIndex current = grid_->currentIndex();
    const bool picked =
        current.isValid() && grid_->selectionModel()->isRowSelected(current.row(), {});
    for (int row = picked              ? current.row() + step
                   : current.isValid() ? current.row()
                   : step > 0          ? 0
                                       : model_->rowCount() - 1;
         row >= 0; row += step) {
        if (row >= model_->rowCount()) {
            if (!model_->canFetchMore({}) || pagesLeft-- == 0)
                return;
            model_->fetchMore({});
            if (row >= model_->rowCount())
                return;
        }
        if (HistoryModel::forReview(model_->at(row))) {
            // The row alone, whatever modifier the key came with (Shift+F3
            // must not extend the selection).
            const QModelIndex at = grid_->model()->index(row, 0);
            grid_->selectionModel()->setCurrentIndex(at, QItemSelectionModel::ClearAndSelect |
                                                             QItemSelectionModel::Rows);
            grid_->scrollTo(at);
            return;
        }
    }
}

QVector<qint64> HistoryRoom::selectedIds() const {
    QVector<qint64> ids;
    for (const QModelIndex& i : grid_->selectionModel()->selectedRows())
        ids << model_->at(i.row()).id;
    std::sort(ids.begin(), ids.end());
    return ids;
}

void HistoryRoom::reviewSelected(bool accept) {
    const QVector<qint64> ids = selectedIds();
    if (ids.isEmpty()) {
        ShowMessage(QCoreApplication::translate("TFkorvane", "計測を選択してください。"));
        return;
    }
    const Review::Rules rules = rulesOf(host.suspectChecks());
    const QString reason = reason_->text().trimmed();
    const Review::Outcome o =
        accept ? Review::accept(ids, rules, reason) : Review::reject(ids, rules, reason);
    model_->reread(ids);
    if (o.attempts > 0)
        reason_->clear();
    showCount();
    note_->setText(
        (accept ? QCoreApplication::translate("TFkorvane", "%1 件を承認しました。")
                : QCoreApplication::translate("TFkorvane", "%1 件を却下しました。"))
            .arg(o.attempts) +
        QLatin1Char('\n') +
        QCoreApplication::translate("TFkorvane", "最高速度が変わったトランスポンダー: %1 台")
            .arg(o.bests));
}

void HistoryRoom::correctDistance() {
    const std::optional<int> cm = Review::sectionLength(dist_->text());
    if (!cm) {
        ShowMessage(QCoreApplication::translate(
            "TFkorvane", "区間長は 1～5000 の整数（cm）で入力してください。"));
        return;
    }
    // A changed speed must say why, for whoever checks the records later.
    const QString reason = reason_->text().trimmed();
    if (reason.isEmpty()) {
        ShowMessage(QCoreApplication::translate(
            "TFkorvane", "訂正の理由を入力してください（証拠の記録に残ります）。"));
        reason_->setFocus();
        return;
    }
    QVector<qint64> ids;
    if (byRange_->isChecked()) {
        const qint64 from = from_->dateTime().toMSecsSinceEpoch();
        // The end second is included to its last millisecond.
        const qint64 to = to_->dateTime().toMSecsSinceEpoch() + 999;
        ids = Review::attemptsBetween(from, to, model_->filter());
    } else {
        ids = selectedIds();
    }
    if (ids.isEmpty()) {
        ShowMessage(byRange_->isChecked()
                        ? QCoreApplication::translate("TFkorvane", "この期間の計測はありません。")
                        : QCoreApplication::translate("TFkorvane", "計測を選択してください。"));
        return;
    }
    const Review::Rules rules = rulesOf(host.suspectChecks());
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const Review::Outcome would = Review::correct(ids, *cm, now, rules, false);
    if (would.attempts == 0) {
        ShowMessage(
            QCoreApplication::translate("TFkorvane", "選んだ計測の区間長はすでに %1 cm です。")
                .arg(*cm));
        return;
    }
    if (!MessageYesNo(QCoreApplication::translate("TFkorvane", "確認してください。"),
                      QCoreApplication::translate(
                          "TFkorvane",
                          "%1 件の計測の区間長を %2 cm に訂正し、スピードを計算し直します。\n"
                          "対象のトランスポンダー %3 台のうち、%4 台の最高速度が変わります。\n"
                          "よろしいですか？")
                          .arg(would.attempts)
                          .arg(*cm)
                          .arg(would.transponders)
                          .arg(would.bests)))
        return;
    const Review::Outcome o =
        Review::correct(ids, *cm, QDateTime::currentMSecsSinceEpoch(), rules, true, reason);
    model_->reread(ids);
    reason_->clear();
    showCount();
    note_->setText(
        QCoreApplication::translate("TFkorvane", "%1 件の区間長を %2 cm に訂正しました。")
            .arg(o.attempts)
            .arg(*cm) +
        QLatin1Char('\n') +
        QCoreApplication::translate("TFkorvane", "最高速度が変わったトランスポンダー: %1 台")
            .arg(o.bests));
}

void HistoryRoom::exportHistory() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString suggested =
        QDir(folder.isEmpty() ? QDir::homePath() : folder)
            .filePath(QStringLiteral("history-%1.csv")
                          .arg(QDate::currentDate().toString(QStringLiteral("yyyyMMdd"))));
    const QString path = host.chooseCsvPath(suggested);
    if (path.isEmpty())
        return;
    const qint64 n = exportAttemptsCsv(path, model_->filter());
    ShowMessage(QCoreApplication::translate("TFkorvane", "計測 %1 件を %2 に書き出しました。")
                    .arg(n)
                    .arg(QDir::toNativeSeparators(path)));
}
