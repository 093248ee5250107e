#include "AllStationsView.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QLabel>
#include <QStandardItemModel>

AllStationsView::AllStationsView(QWidget* parent) : QTableView(parent) {
    setObjectName(QStringLiteral("DBGridAll"));
    model_ = new QStandardItemModel(0, 4, this);
    model_->setHorizontalHeaderLabels({QCoreApplication::translate("TFkorvane", "ﾄﾗﾝｽﾎﾟﾝﾀﾞｰID"),
                                       QCoreApplication::translate("TFkorvane", "名前"),
                                       QCoreApplication::translate("TFkorvane", "スピード"),
                                       QCoreApplication::translate("TFkorvane", "ステーション")});
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    verticalHeader()->setDefaultSectionSize(18);
    verticalHeader()->hide();
    setModel(model_);
    setColumnWidth(0, 84);
    setColumnWidth(1, 110);
    setColumnWidth(2, 60);
    note_ = new QLabel(this);
    note_->setObjectName(QStringLiteral("AllStationsNote"));
    note_->setWordWrap(true);
    note_->hide();
}

void AllStationsView::resizeEvent(QResizeEvent* e) {
    QTableView::resizeEvent(e);
    placeNote();
}

void AllStationsView::showRows(const QList<EventServer::RankingEntry>& rows) {
    note_->hide();
    model_->setRowCount(0);
    for (const EventServer::RankingEntry& e : rows) {
        QList<QStandardItem*> row{new QStandardItem(e.tpid), new QStandardItem(e.name),
                                  new QStandardItem(e.speedText), new QStandardItem(e.station)};
        row.at(0)->setTextAlignment(Qt::AlignCenter);
        row.at(2)->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        model_->appendRow(row);
    }
}

void AllStationsView::placeNote() {
    // Below the header, across the grid.
    note_->setGeometry(8, 30, width() - 16, 60);
}

void AllStationsView::showNote(const QString& text) {
    placeNote();
    note_->setText(text);
    note_->show();
}
