#pragma once

#include "Journal.h"
#include "PagedModel.h"
#include <QByteArray>
#include <QString>
#include <QVector>

// The attempts as the history page lists them, newest first, all or those of
// one transponder.
using HistoryRow = Journal::ListedAttempt;

// At most `limit` attempts older than the attempt `beforeId` (from the newest
// when 0), of transponder `tpid` when it is not empty; read by id through the
// table's own order or index attempt_tpid, without reading the rows before.
QVector<HistoryRow> historyPage(const QString& tpid, qint64 beforeId, int limit);

// The attempts a page at a time as the grid scrolls to them (each page by a
// short statement starting after the last row held), so that a journal of a
// million attempts shows at once and holds no more rows than were seen.
class HistoryModel : public PagedModel {
    Q_OBJECT
public:
    enum Column {
        ColTime,
        ColTpid,
        ColName,
        ColSpeed,
        ColDist,
        ColFlags,
        ColStatus,
        ColClass,
        ColUncertainty,
        ColumnCount
    };
    static constexpr int kPageRows = 256;
    // A row for the operator's eye stands out (by colour on the page, and by
    // the word in its status); MarkRole gives its Mark as an int.
    enum class Mark { None, ForReview, NotMeasured, Rejected };
    static constexpr int MarkRole = Qt::UserRole;

    explicit HistoryModel(QObject* parent = nullptr);

    // The transponder whose attempts are listed; empty for all. Takes effect
    // at the next refresh().
    void setFilter(const QString& tpid) { filter_ = tpid; }
    const QString& filter() const { return filter_; }
    // Only the attempts for the operator's eye (suspect, not a measurement).
    // Takes effect at the next refresh().
    void setForReviewOnly(bool on) { forReviewOnly_ = on; }
    bool forReviewOnly() const { return forReviewOnly_; }

    // Reads the newest page anew; raises DbError.
    void refresh();
    // Puts the attempts measured since the newest row held on top, as rows
    // inserted before the others, so that a view keeps its selection. Returns
    // how many; -1 when there were too many and the list was read anew (as
    // refresh()). Raises DbError.
    int followNewest();
    // Reads the rows of these attempts anew where they are held (after a
    // review changed them); raises DbError.
    void reread(const QVector<qint64>& ids);
    // The attempts for the operator's eye of the transponder filter (all
    // when it is empty), whether the list shows only those or not; as of the
    // last read.
    qint64 forReviewCount() const { return forReviewCount_; }
    static bool forReview(const HistoryRow& row);

    const HistoryRow& at(int row) const { return rows_.at(row); }

    static QString statusWord(const QString& status);
    static QString flagsText(unsigned flags);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    void fetchMore(const QModelIndex& parent) override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    Journal::ListFilter listFilter() const { return {filter_, forReviewOnly_}; }

    QString filter_;
    bool forReviewOnly_ = false;
    qint64 forReviewCount_ = 0;
    QVector<HistoryRow> rows_;
};

// Attempts as CSV, by the rules of the ranking export: UTF-8 with a byte
// order mark, a header row (with header true), CRLF line ends, fields quoted
// where needed, an apostrophe before a field that begins with "=", "+", "-"
// or "@". The time is local, to the millisecond.
QByteArray attemptsCsv(const QVector<HistoryRow>& rows, bool header);

// Writes the attempts (of `tpid`, or all when it is empty), newest first, to
// path a page at a time; the file is replaced as a whole or not at all.
// Returns the number of attempts written. Raises RecordError naming the
// file, DbError when the attempts cannot be read.
qint64 exportAttemptsCsv(const QString& path, const QString& tpid);
