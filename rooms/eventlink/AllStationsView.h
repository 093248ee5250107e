#pragma once

#include "EventServer.h"

#include <QList>
#include <QTableView>

class QLabel;
class QStandardItemModel;

// The ranking of all stations of the event, in place of the ranking grid:
// the rows last read, and over them why they are not fresh (or why none can
// be read at all).
class AllStationsView final : public QTableView {
    Q_OBJECT
public:
    explicit AllStationsView(QWidget* parent = nullptr);

    void showRows(const QList<EventServer::RankingEntry>& rows);
    // The rows stay, under the note.
    void showNote(const QString& text);

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    void placeNote();

    QStandardItemModel* model_ = nullptr;
    QLabel* note_ = nullptr;
};
