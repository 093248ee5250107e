#include "ClassesRoom.h"

#include "ClassStore.h"
#include "Database.h"
#include "EntryImport.h"
#include "Framework.h"
#include "Journal.h"
#include "Names.h"
#include "PageParts.h"
#include "Ranking.h"
#include "WholeFile.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDateTimeEdit>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

using windowparts::label;

namespace {

enum Period { AllTime, Today, Since };

QTableWidget* grid(QWidget* parent, const QStringList& headers) {
    auto* g = new QTableWidget(0, int(headers.size()), parent);
    g->setHorizontalHeaderLabels(headers);
    g->setEditTriggers(QAbstractItemView::NoEditTriggers);
    g->setSelectionBehavior(QAbstractItemView::SelectRows);
    g->setSelectionMode(QAbstractItemView::SingleSelection);
    g->verticalHeader()->setDefaultSectionSize(18);
    g->verticalHeader()->hide();
    g->setWordWrap(false);
    return g;
}

void setRow(QTableWidget* g, int row, const QStringList& cells, const QVariant& data = {}) {
    for (int c = 0; c < cells.size(); ++c) {
        auto* item = new QTableWidgetItem(cells[c]);
        if (c == 0)
            item->setData(Qt::UserRole, data);
        g->setItem(row, c, item);
    }
}

QPushButton* button(const QString& text, QWidget* parent, int x, int y, int w,
                    const QString& name) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setGeometry(x, y, w, 24);
    return b;
}

} // namespace

ClassesRoom::ClassesRoom(Host& h) : Room(h) {
    Journal::setClassResolver([this](const QString& tpid) { return current_.value(tpid); });
    connect(&host, &Host::speedShown, this, [this] {
        if (view_ && host.rankingViewShown(view_))
            runHandler([this] { showRanking(); });
    });
    chooseImportPath = [this] {
        return QFileDialog::getOpenFileName(host.window(), tr("エントリーの読込"), QDir::homePath(),
                                            QStringLiteral("CSV (*.csv);;* (*)"));
    };
    confirmImport = [this](const EntryImport::Preview& p) { return showPreview(p); };
    if (QWidget* page = host.addPage(tr("エントリー"), QStringLiteral("entries"), [this] {
            lock(true);
            password_->clear();
            password_->setFocus();
        })) {
        buildPage(page);
        buildRankingView();
    }
}

ClassesRoom::~ClassesRoom() {
    Journal::setClassResolver({});
}

void ClassesRoom::created() {
    ClassStore::createSchema(SpeedDb::database());
    reloadCurrent();
    if (page_) {
        showClasses(0);
        fillClassSelector();
    }
}

void ClassesRoom::reloadCurrent() {
    current_ = ClassStore::currentClasses();
}

// --- the entries page ---------------------------------------------------------

void ClassesRoom::buildPage(QWidget* p) {
    page_ = p;
    label(tr("クラス"), p, 6, 4);
    classList_ = new QListWidget(p);
    classList_->setObjectName(QStringLiteral("classList"));
    classList_->setGeometry(6, 22, 170, 210);
    className_ = new QLineEdit(p);
    className_->setObjectName(QStringLiteral("className"));
    className_->setGeometry(6, 238, 170, 22);
    connect(button(tr("追加"), p, 6, 264, 54, QStringLiteral("addClass")), &QPushButton::clicked,
            this, [this] { runHandler([this] { addClass(); }); });
    connect(button(tr("名前変更"), p, 64, 264, 70, QStringLiteral("renameClass")),
            &QPushButton::clicked, this, [this] { runHandler([this] { renameClass(); }); });
    connect(button(tr("削除"), p, 138, 264, 38, QStringLiteral("deleteClass")),
            &QPushButton::clicked, this, [this] { runHandler([this] { deleteClass(); }); });
    connect(button(tr("↑"), p, 6, 292, 30, QStringLiteral("classUp")), &QPushButton::clicked, this,
            [this] { runHandler([this] { moveClass(-1); }); });
    connect(button(tr("↓"), p, 40, 292, 30, QStringLiteral("classDown")), &QPushButton::clicked,
            this, [this] { runHandler([this] { moveClass(1); }); });
    connect(classList_, &QListWidget::currentRowChanged, this,
            [this] { runHandler([this] { showEntries(0); }); });

    label(tr("エントリー"), p, 186, 4);
    entryGrid_ = grid(p, {tr("ID"), tr("名前"), tr("番号"), tr("現在")});
    entryGrid_->setObjectName(QStringLiteral("entryGrid"));
    entryGrid_->setGeometry(186, 22, 448, 210);
    entryGrid_->setColumnWidth(0, 110);
    entryGrid_->setColumnWidth(1, 180);
    entryGrid_->setColumnWidth(2, 70);
    entryGrid_->setColumnWidth(3, 60);
    connect(entryGrid_, &QTableWidget::itemSelectionChanged, this, [this] { pickEntry(); });

    label(tr("ID"), p, 186, 241);
    tpid_ = new QLineEdit(p);
    tpid_->setObjectName(QStringLiteral("entryTpid"));
    tpid_->setGeometry(206, 238, 110, 22);
    label(tr("名前"), p, 322, 241);
    name_ = new QLineEdit(p);
    name_->setObjectName(QStringLiteral("entryName"));
    name_->setGeometry(352, 238, 170, 22);
    label(tr("番号"), p, 528, 241);
    number_ = new QLineEdit(p);
    number_->setObjectName(QStringLiteral("entryNumber"));
    number_->setGeometry(558, 238, 76, 22);
    connect(button(tr("追加"), p, 186, 264, 70, QStringLiteral("addEntry")), &QPushButton::clicked,
            this, [this] { runHandler([this] { addEntry(); }); });
    connect(button(tr("更新"), p, 260, 264, 70, QStringLiteral("updateEntry")),
            &QPushButton::clicked, this, [this] { runHandler([this] { updateEntry(); }); });
    connect(button(tr("削除"), p, 334, 264, 70, QStringLiteral("deleteEntry")),
            &QPushButton::clicked, this, [this] { runHandler([this] { deleteEntry(); }); });
    connect(button(tr("このクラスで走る"), p, 504, 264, 130, QStringLiteral("makeCurrent")),
            &QPushButton::clicked, this, [this] { runHandler([this] { makeCurrent(); }); });
    connect(button(tr("CSV読込…"), p, 186, 300, 100, QStringLiteral("importEntries")),
            &QPushButton::clicked, this, [this] { runHandler([this] { importEntries(); }); });
    connect(button(tr("CSV書出…"), p, 290, 300, 100, QStringLiteral("exportEntries")),
            &QPushButton::clicked, this, [this] { runHandler([this] { exportEntries(); }); });

    // The page password's curtain, as on the registration page: everything
    // under it disabled, so that Tab does not reach it either.
    curtain_ = new QFrame(p);
    curtain_->setObjectName(QStringLiteral("entriesCurtain"));
    curtain_->setGeometry(0, 0, 640, 360);
    curtain_->setAutoFillBackground(true);
    label(tr("パスワード"), curtain_, 220, 140);
    password_ = new QLineEdit(curtain_);
    password_->setObjectName(QStringLiteral("entriesPassword"));
    password_->setEchoMode(QLineEdit::Password);
    password_->setGeometry(300, 137, 140, 22);
    connect(password_, &QLineEdit::returnPressed, this,
            [this] { runHandler([this] { unlock(password_->text()); }); });
    lock(true);
}

void ClassesRoom::lock(bool locked) {
    curtain_->setVisible(locked);
    if (locked)
        curtain_->raise();
    for (QWidget* w : page_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (w != curtain_)
            w->setEnabled(!locked);
}

void ClassesRoom::unlock(const QString& password) {
    if (!host.pagePasswordMatches(password)) {
        ShowMessage(QCoreApplication::translate("TFkorvane", "パスワードが一致しません。"));
        return;
    }
    lock(false);
    showClasses(selectedClass());
    classList_->setFocus();
}

qint64 ClassesRoom::selectedClass() const {
    const QListWidgetItem* item = classList_->currentItem();
    return item ? item->data(Qt::UserRole).toLongLong() : 0;
}

qint64 ClassesRoom::selectedEntry() const {
    const int row = entryGrid_->currentRow();
    const QTableWidgetItem* item = row >= 0 ? entryGrid_->item(row, 0) : nullptr;
    return item ? item->data(Qt::UserRole).toLongLong() : 0;
}

void ClassesRoom::showClasses(qint64 select) {
    const QSignalBlocker quiet(classList_);
    classList_->clear();
    int row = 0;
    for (const ClassStore::RaceClass& c : ClassStore::classes()) {
        auto* item = new QListWidgetItem(c.name, classList_);
        item->setData(Qt::UserRole, c.id);
        if (c.id == select)
            row = classList_->count() - 1;
    }
    if (classList_->count() > 0)
        classList_->setCurrentRow(row);
    showEntries(0);
    fillClassSelector();
}

void ClassesRoom::showEntries(qint64 select) {
    const qint64 classId = selectedClass();
    const QVector<ClassStore::Entry> entries =
        classId > 0 ? ClassStore::entries(classId) : QVector<ClassStore::Entry>();
    const QSignalBlocker quiet(entryGrid_);
    entryGrid_->setRowCount(int(entries.size()));
    int row = -1;
    for (int i = 0; i < entries.size(); ++i) {
        const ClassStore::Entry& e = entries[i];
        setRow(entryGrid_, i, {e.tpid, e.name, e.number, e.current ? tr("●") : QString()}, e.id);
        if (e.id == select)
            row = i;
    }
    if (row >= 0)
        entryGrid_->selectRow(row);
}

void ClassesRoom::pickEntry() {
    const std::optional<ClassStore::Entry> e = ClassStore::entry(selectedEntry());
    if (!e)
        return;
    tpid_->setText(e->tpid);
    name_->setText(e->name);
    number_->setText(e->number);
}

void ClassesRoom::addClass() {
    const qint64 id = ClassStore::addClass(className_->text().trimmed());
    className_->clear();
    showClasses(id);
}

void ClassesRoom::renameClass() {
    const qint64 id = selectedClass();
    if (id == 0)
        return;
    ClassStore::renameClass(id, className_->text().trimmed());
    reloadCurrent(); // attempts from now on carry the new name
    className_->clear();
    showClasses(id);
}

void ClassesRoom::deleteClass() {
    const qint64 id = selectedClass();
    if (id == 0)
        return;
    const int entries = int(ClassStore::entries(id).size());
    if (entries > 0 &&
        !MessageYesNo(tr("クラスの削除"), tr("クラス「%1」と、そのエントリー %2 件を削除しますか？")
                                              .arg(classList_->currentItem()->text())
                                              .arg(entries)))
        return;
    ClassStore::deleteClass(id); // refused while it has attempts
    reloadCurrent();
    showClasses(0);
}

void ClassesRoom::moveClass(int step) {
    const qint64 id = selectedClass();
    ClassStore::moveClass(id, step);
    showClasses(id);
}

void ClassesRoom::addEntry() {
    const qint64 classId = selectedClass();
    if (classId == 0) {
        ShowMessage(tr("先にクラスを選んでください。"));
        return;
    }
    const qint64 id = ClassStore::addEntry(classId, tpid_->text().trimmed(), name_->text(),
                                           number_->text().trimmed());
    reloadCurrent();
    showEntries(id);
}

void ClassesRoom::updateEntry() {
    const qint64 id = selectedEntry();
    if (id == 0)
        return;
    ClassStore::updateEntry(id, tpid_->text().trimmed(), name_->text(), number_->text().trimmed());
    reloadCurrent();
    showEntries(id);
}

void ClassesRoom::deleteEntry() {
    const qint64 id = selectedEntry();
    if (id == 0)
        return;
    ClassStore::deleteEntry(id);
    reloadCurrent();
    showEntries(0);
}

void ClassesRoom::makeCurrent() {
    const qint64 id = selectedEntry();
    if (id == 0)
        return;
    ClassStore::makeCurrent(id);
    reloadCurrent();
    showEntries(id);
    if (const std::optional<ClassStore::Entry> e = ClassStore::entry(id))
        host.note(QStringLiteral(" ") +
                  tr("クラス変更 %1 → %2").arg(e->tpid, classList_->currentItem()->text()));
}

void ClassesRoom::importEntries() {
    const QString path = chooseImportPath ? chooseImportPath() : QString();
    if (path.isEmpty())
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw RecordError(tr("%1 を読めません: %2").arg(path, file.errorString()));
    QHash<QString, QSet<QString>> entered;
    QHash<qint64, QString> names;
    for (const ClassStore::RaceClass& c : ClassStore::classes())
        names.insert(c.id, c.name);
    for (const ClassStore::Entry& e : ClassStore::entries(0))
        entered[names.value(e.classId)].insert(e.tpid);
    const EntryImport::Preview preview = EntryImport::preview(file.readAll(), entered);
    if (!confirmImport || !confirmImport(preview) || preview.goodCount() == 0)
        return;
    const int written = ClassStore::addEntries(preview.goodEntries());
    reloadCurrent();
    showClasses(selectedClass());
    host.note(QStringLiteral(" ") + tr("エントリー読込 %1 件").arg(written));
}

bool ClassesRoom::showPreview(const EntryImport::Preview& p) {
    QDialog d(host.window());
    d.setObjectName(QStringLiteral("importPreview"));
    d.setWindowTitle(tr("エントリーの読込"));
    d.resize(620, 400);
    auto* layout = new QVBoxLayout(&d);
    const int bad = int(p.lines.size()) - p.goodCount();
    auto* summary =
        new QLabel(p.fileProblem.isEmpty()
                       ? tr("文字コード %1。読み込む行 %2、問題のある行 %3（読み込みません）")
                             .arg(p.encoding)
                             .arg(p.goodCount())
                             .arg(bad)
                       : p.fileProblem + QLatin1Char('\n') + tr("このファイルは読み込めません。"),
                   &d);
    layout->addWidget(summary);
    QTableWidget* g =
        grid(&d, {tr("行"), tr("クラス"), tr("ID"), tr("名前"), tr("番号"), tr("問題")});
    g->setObjectName(QStringLiteral("previewGrid"));
    // Problems first, so that a long file's few bad lines are seen at once.
    QVector<const EntryImport::Line*> order;
    for (const EntryImport::Line& l : p.lines)
        if (!l.problem.isEmpty() || !l.note.isEmpty())
            order << &l;
    for (const EntryImport::Line& l : p.lines)
        if (l.problem.isEmpty() && l.note.isEmpty())
            order << &l;
    g->setRowCount(int(order.size()));
    for (int i = 0; i < order.size(); ++i) {
        const EntryImport::Line& l = *order[i];
        setRow(g, i,
               {QString::number(l.line), l.entry.className, l.entry.tpid, l.entry.name,
                l.entry.number, l.problem.isEmpty() ? l.note : l.problem});
        if (!l.problem.isEmpty())
            for (int c = 0; c < g->columnCount(); ++c)
                g->item(i, c)->setForeground(Qt::red);
    }
    g->resizeColumnsToContents();
    layout->addWidget(g);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &d);
    buttons->button(QDialogButtonBox::Ok)->setText(tr("%1 件を読み込む").arg(p.goodCount()));
    buttons->button(QDialogButtonBox::Ok)->setEnabled(p.goodCount() > 0);
    connect(buttons, &QDialogButtonBox::accepted, &d, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &d, &QDialog::reject);
    layout->addWidget(buttons);
    return d.exec() == QDialog::Accepted;
}

void ClassesRoom::exportEntries() {
    const QString path =
        host.chooseCsvPath(QDir(QDir::homePath()).filePath(QStringLiteral("entries.csv")));
    if (path.isEmpty())
        return;
    QString why;
    if (!WholeFile::write(
            path, EntryImport::entriesCsv(ClassStore::classes(), ClassStore::entries(0)), &why))
        throw RecordError(tr("%1 に書き込めません: %2").arg(path, why));
}

// --- the ranking by class and period -------------------------------------------

void ClassesRoom::buildRankingView() {
    view_ = new QWidget;
    view_->setObjectName(QStringLiteral("classRanking"));
    classBox_ = new QComboBox(view_);
    classBox_->setObjectName(QStringLiteral("rankingClass"));
    classBox_->setGeometry(0, 0, 150, 24);
    periodBox_ = new QComboBox(view_);
    periodBox_->setObjectName(QStringLiteral("rankingPeriod"));
    periodBox_->addItems({tr("全期間"), tr("今日"), tr("指定時刻から")});
    periodBox_->setGeometry(154, 0, 176, 24);
    since_ = new QDateTimeEdit(QDateTime::currentDateTime(), view_);
    since_->setObjectName(QStringLiteral("rankingSince"));
    since_->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm"));
    since_->setGeometry(0, 28, 150, 24);
    since_->setEnabled(false);
    connect(button(tr("CSV出力"), view_, 250, 28, 80, QStringLiteral("rankingCsv")),
            &QPushButton::clicked, this, [this] { runHandler([this] { exportRanking(); }); });
    rankGrid_ = grid(view_, {tr("順位"), tr("ID"), tr("名前"), tr("スピード")});
    rankGrid_->setObjectName(QStringLiteral("classRankingGrid"));
    rankGrid_->setGeometry(0, 56, 330, 284);
    rankGrid_->setColumnWidth(0, 40);
    rankGrid_->setColumnWidth(1, 80);
    rankGrid_->setColumnWidth(2, 130);
    rankGrid_->setColumnWidth(3, 60);
    rankNote_ = new QLabel(view_);
    rankNote_->setGeometry(154, 30, 92, 20);
    const auto again = [this] {
        since_->setEnabled(periodBox_->currentIndex() == Since);
        runHandler([this] { showRanking(); });
    };
    connect(classBox_, &QComboBox::activated, this, again);
    connect(periodBox_, &QComboBox::activated, this, again);
    connect(since_, &QDateTimeEdit::dateTimeChanged, this, again);
    host.addRankingView(tr("クラス別"), QStringLiteral("ByClass"), view_, [this](bool shown) {
        if (shown)
            runHandler([this] { showRanking(); });
    });
}

void ClassesRoom::fillClassSelector() {
    if (!classBox_)
        return;
    const qint64 was = classBox_->currentData().toLongLong();
    classBox_->clear();
    classBox_->addItem(tr("すべて"), qint64(0));
    for (const ClassStore::RaceClass& c : ClassStore::classes())
        classBox_->addItem(c.name, c.id);
    classBox_->setCurrentIndex(std::max(0, classBox_->findData(was)));
}

void ClassesRoom::selectRanking(qint64 classId, int period, qint64 sinceMs) {
    fillClassSelector();
    classBox_->setCurrentIndex(std::max(0, classBox_->findData(classId)));
    periodBox_->setCurrentIndex(period);
    since_->setEnabled(period == Since);
    if (sinceMs > 0) {
        const QSignalBlocker quiet(since_);
        since_->setDateTime(QDateTime::fromMSecsSinceEpoch(sinceMs));
    }
    showRanking();
}

namespace {

// The rows of the ranking view: the window's own ranking for every class of
// all time, otherwise the journal's bests of the period.
QVector<RankingEntry> classRanking(qint64 classId, int period, qint64 sinceMs, bool suspectCounts) {
    if (classId == 0 && period == AllTime)
        return rankingEntries();
    const qint64 from = period == AllTime ? 0
                        : period == Today
                            ? QDateTime(QDate::currentDate(), QTime(0, 0)).toMSecsSinceEpoch()
                            : sinceMs;
    QVector<RankingEntry> out;
    for (const Journal::RankedBest& b :
         Journal::classRanking(SpeedDb::database(), classId, from, suspectCounts))
        out.append({b.rank, b.tpid, b.name, b.speedText});
    return out;
}

} // namespace

void ClassesRoom::showRanking() {
    const QVector<RankingEntry> rows =
        classRanking(classBox_->currentData().toLongLong(), periodBox_->currentIndex(),
                     since_->dateTime().toMSecsSinceEpoch(), host.suspectChecks().HoldSuspect == 0);
    rankGrid_->setRowCount(int(rows.size()));
    for (int i = 0; i < rows.size(); ++i)
        setRow(rankGrid_, i,
               {QString::number(rows[i].rank), rows[i].tpid, rows[i].name, rows[i].speedText});
    rankNote_->setText(tr("%1 台").arg(rows.size()));
}

void ClassesRoom::exportRanking() {
    const QString stem =
        classBox_->currentIndex() > 0 ? classBox_->currentText() : QStringLiteral("ranking");
    const QString path =
        host.chooseCsvPath(QDir(QDir::homePath())
                               .filePath(stem + QLatin1Char('_') +
                                         QDate::currentDate().toString(QStringLiteral("yyyyMMdd")) +
                                         QStringLiteral(".csv")));
    if (path.isEmpty())
        return;
    const QVector<RankingEntry> rows =
        classRanking(classBox_->currentData().toLongLong(), periodBox_->currentIndex(),
                     since_->dateTime().toMSecsSinceEpoch(), host.suspectChecks().HoldSuspect == 0);
    QString why;
    if (!WholeFile::write(path, rankingCsv(rows), &why))
        throw RecordError(tr("%1 に書き込めません: %2").arg(path, why));
}
