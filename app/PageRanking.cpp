// The reference page: ranking of best speeds, lookup and clearing a record.
#include "Ukorvane.h"

#include "CuteBtn.h"
#include "Framework.h"
#include "Ranking.h"
#include "SpeedTable.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFileDialog>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QStandardPaths>
#include <QTableView>

namespace {

const QString kKmh = QStringLiteral(" Km/h");

void applyRankingColumns(QTableView* grid) {
    grid->setColumnWidth(RankingModel::ColTpid, 84);
    grid->setColumnWidth(RankingModel::ColName, 150);
    grid->setColumnWidth(RankingModel::ColSpeed, 60);
}

QString defaultCsvChooser(QWidget* parent, const QString& suggested) {
    return QFileDialog::getSaveFileName(parent, QCoreApplication::translate("TFkorvane", "CSV出力"),
                                        suggested, QStringLiteral("CSV (*.csv)"));
}

} // namespace

void TFkorvane::buildRankingPage() {
    QWidget* p = TabSheet5;
    DBGrid1 = new QTableView(p);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    DBGrid1->setGeometry(6, 6, 330, 340);
    DBGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    DBGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    DBGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    DBGrid1->verticalHeader()->setDefaultSectionSize(18);
    DBGrid1->verticalHeader()->hide();
    DBGrid1->setAlternatingRowColors(false);
    DBGrid1->setWordWrap(false);
    Qshow = new RankingModel(this);
    DBGrid1->setModel(Qshow);
    // Reported once the grid has finished the scrolling that asked for rows.
    connect(
        Qshow, &RankingModel::fetchFailed, this, [](const QString& why) { ShowErrorBox(why); },
        Qt::QueuedConnection);

    Shape4 = new QFrame(p);
    Shape4->setFrameShape(QFrame::Box);
    Shape4->setGeometry(346, 6, 288, 150);
    auto* l1 = new QLabel(tr("検索"), p);
    l1->setGeometry(356, 18, 40, 18);
    Edit1 = new QLineEdit(p);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setGeometry(400, 16, 220, 22);
    Edit1->installEventFilter(this);
    auto* l2 = new QLabel(tr("名前"), p);
    l2->setGeometry(356, 48, 40, 18);
    Edit2 = new QLineEdit(p);
    Edit2->setObjectName(QStringLiteral("Edit2"));
    Edit2->setGeometry(400, 46, 220, 22);
    auto* l3 = new QLabel(tr("記録"), p);
    l3->setGeometry(356, 78, 40, 18);
    Edit3 = new QLineEdit(p);
    Edit3->setObjectName(QStringLiteral("Edit3"));
    QFont bold = Edit3->font();
    bold.setBold(true);
    Edit3->setFont(bold);
    Edit3->setGeometry(400, 76, 220, 22);
    CuteButton5 = new TCuteButton(tr("記録の削除"), p);
    CuteButton5->setGeometry(520, 116, 100, 28);
    DBGrid1->viewport()->installEventFilter(this);

    CuteButtonCsv = new TCuteButton(tr("CSV出力"), p);
    CuteButtonCsv->setObjectName(QStringLiteral("CuteButtonCsv"));
    CuteButtonCsv->setGeometry(520, 170, 100, 28);
    chooseCsvPath = defaultCsvChooser;
    connect(CuteButtonCsv, &TCuteButton::clicked, this,
            [this] { runHandler([this] { CuteButtonCsvClick(); }); });
}

void TFkorvane::TabSheet5Show() {
    Qshow->refresh();
    applyRankingColumns(DBGrid1);
    // Like a freshly opened result, the grid stands on its first row.
    if (Qshow->rowCount() > 0)
        DBGrid1->setCurrentIndex(Qshow->index(0, RankingModel::ColTpid));
}

void TFkorvane::DBGrid1DblClick() {
    int row = DBGrid1->currentIndex().isValid() ? DBGrid1->currentIndex().row() : 0;
    if (row >= Qshow->rowCount())
        row = -1;
    Edit1->setText(row < 0 ? QString() : Qshow->tpid(row));
    Edit2->setText(row < 0 ? QString() : Qshow->name(row));
    Edit3->setText((row < 0 ? QString() : Qshow->speedText(row)) + kKmh);
}

void TFkorvane::Edit1KeyDown() {
    const SpeedTable::Lookup found = SpeedTable::lookup(Edit1->text());
    Edit2->setText(found.name);
    Edit3->setText(found.speedText + kKmh);
}

void TFkorvane::CuteButton5Click() {
    if (Edit3->text().isEmpty())
        return;
    if (!MessageYesNo(tr("確認してください。"),
                      tr("選択したデータのスピード記録を削除してよろしいですか？")))
        return;
    SpeedTable::clearBest(Edit1->text());
    Edit3->clear();
    TabSheet5Show();
}

void TFkorvane::CuteButtonCsvClick() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString suggested =
        QDir(folder.isEmpty() ? QDir::homePath() : folder)
            .filePath(QStringLiteral("ranking-%1.csv")
                          .arg(QDate::currentDate().toString(QStringLiteral("yyyyMMdd"))));
    const QString path = chooseCsvPath ? chooseCsvPath(this, suggested) : QString();
    if (path.isEmpty())
        return;
    exportRankingCsv(path);
    ShowMessage(tr("ランキングを %1 に書き出しました。").arg(QDir::toNativeSeparators(path)));
}
