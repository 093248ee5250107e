#pragma once

#include "Host.h"

#include <QVector>

class QCheckBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QTimer;
class QTableView;
class HistoryModel;

// The history page: every attempt, newest first, with its flags and status;
// the operator accepts or rejects attempts, corrects the section length of
// some, and writes them to a CSV file. The records side (Review, History)
// decides what each of these does to the best speeds.
class HistoryRoom : public Room {
    Q_OBJECT
public:
    explicit HistoryRoom(Host& host);
    ~HistoryRoom() override;

    // Reads the list afresh with the ID box's filter.
    void showHistory();

private:
    // New attempts while the page shows: put on top, the operator's
    // selection and the rows in view kept.
    void followNewest();
    void showCount();
    // Selects the next (step 1) or previous (-1) row for the operator's eye
    // from the current row.
    void jumpToForReview(int step);
    void reviewSelected(bool accept);
    void correctDistance();
    void exportHistory();
    QVector<qint64> selectedIds() const;

    QWidget* page_ = nullptr;
    QTableView* grid_ = nullptr;
    HistoryModel* model_ = nullptr;
    QLineEdit* filter_ = nullptr;
    QLineEdit* reason_ = nullptr;
    QLineEdit* dist_ = nullptr;
    QCheckBox* byRange_ = nullptr;
    QDateTimeEdit* from_ = nullptr;
    QDateTimeEdit* to_ = nullptr;
    QLabel* note_ = nullptr;
    QCheckBox* forReviewOnly_ = nullptr;
    QLabel* count_ = nullptr;
    QTimer* follow_ = nullptr;
    bool followFailed_ = false;
};
