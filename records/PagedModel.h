#pragma once

#include <QAbstractTableModel>
#include <QModelIndex>
#include <QString>
#include <QVector>

#include <exception>

// A table read a page at a time as the grid scrolls to it (keyset paging:
// each page starts after the last row held). A page that cannot be read ends
// the paging and is reported by fetchFailed; the grid keeps the rows it has.
class PagedModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    bool canFetchMore(const QModelIndex& parent) const override {
        return !parent.isValid() && more_;
    }

signals:
    // The message names the engine's error.
    void fetchFailed(const QString& message);

protected:
    // Appends the page `read` returns to `rows`; a page shorter than
    // `pageRows` is the last.
    template <typename Row, typename Read>
    void appendPage(QVector<Row>& rows, int pageRows, Read read) {
        if (!more_)
            return;
        QVector<Row> page;
        try {
            page = read();
        } catch (const std::exception& e) {
            // Called from inside the grid's own scrolling and painting,
            // which must not be left by an exception.
            more_ = false;
            emit fetchFailed(QString::fromUtf8(e.what()));
            return;
        }
        more_ = page.size() == pageRows;
        if (page.isEmpty())
            return;
        const int first = int(rows.size());
        beginInsertRows(QModelIndex(), first, first + int(page.size()) - 1);
        rows += page;
        endInsertRows();
    }

    bool more_ = false; // a page may follow the rows held
};
