#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>

#include "Error.h"

#include <memory>

class QSqlError;
class QSqlQuery;

// A database failure carrying the engine's message. Told apart from other
// errors where a stored value that reads badly must not stop the work.
class DbError : public Error {
public:
    using Error::Error;
};

// What the engine said of a failure (Qt's own text when the engine said
// nothing): the message every DbError carries.
QString engineMessage(const QSqlError& e);

// Runs one statement on `db` with its values bound by position, as given,
// and hands back its rows (forward only). Raises DbError with the engine's
// message. For the connections other than "DB" and for schema work, where a
// Query (always on "DB") does not fit.
QSqlQuery runBound(QSqlDatabase db, const QString& sql, const QVariantList& values = {});

// The one connection "DB" to the speed table's database file.
namespace SpeedDb {

inline const QString kConnection = QStringLiteral("DB");

// Opens (creating when missing) the database file, switches it to
// write-ahead logging with full synchronous commits and checks both by
// reading them back, and creates table `speed` and its indexes on a fresh
// file (SpeedTable::createSchema), and the journal tables where they are
// missing, also on an older file (Journal::createSchema). Raises
// DbError naming the file when any of that fails.
void open(const QString& path);
void close();
bool isOpen();

// Copies the write-ahead log into the database file and cuts the log to
// nothing: after a write failed for lack of space, the log's own pages are
// what keeps the disk full. False when that could not be done now (a reader
// holds the log, or the disk is still full).
bool truncateLog();
QSqlDatabase database();

// Start-up check: "select pname from speed"; if that fails, the name column
// is added. A failing upgrade raises the engine's error. (With the table's
// other statements in SpeedTable.cpp.)
void checkNameColumn();

} // namespace SpeedDb

// One statement at a time on connection "DB". A statement is given as one or
// two lines of SQL with a "?" wherever a value goes; the values are bound,
// never pasted into the text, so a quote in an ID or a name is stored as typed.
//
// A Kept query takes its statement from those prepared once per connection
// and kept until it closes (the statements of every passing and of every
// measuring run: preparing costs more than running them). Its result is
// released when the query closes or ends, as with any other.
class Query {
public:
    enum Keep { Once, Kept };
    explicit Query(Keep keep = Once);
    ~Query();
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    // Gives the query a new statement (closing whatever result it held).
    void setSql(const QStringList& lines, const QVariantList& values = {});

    void exec(); // a statement returning no rows; raises DbError
    void open(); // a statement returning rows; positioned on the first row; raises DbError
    void close();
    bool isOpen() const;

    bool isEmpty() const; // open with no rows (or closed)
    int recordCount();    // rows of the open result (not on a Kept query)
    bool next();

    // A column of the current row. As text: empty for an empty value, the
    // general decimal form for a number. As a number: 0 for an empty value;
    // text that is not a number raises an error naming it.
    QVariant value(const QString& column) const;
    QString asText(const QString& column) const;
    double asFloat(const QString& column) const;

private:
    QSqlQuery* prepared(); // raises DbError

    Keep keep_;
    std::unique_ptr<QSqlQuery> own_; // a statement prepared for this query alone
    QSqlQuery* q_ = nullptr;         // the open result: own_ or a kept statement
    QString sql_;
    QVariantList values_;
    bool open_ = false;
    bool onRow_ = false;
};

// Runs one statement that returns no rows.
void execSql(const QStringList& lines, const QVariantList& values = {});

struct sqlite3_stmt;

// The statements of every passing and every measuring run. They go to the
// engine on the connection's own handle, bound and read by position: Qt's
// binding and result layer costs more than the engine's work on these small
// statements. Same connection, so the same transactions as every Query.
//
// A statement is given as a string literal, found again by its address,
// prepared once for the connection and kept until it closes. Places count
// from 1, columns from 0, as in the engine. Every failure raises DbError with
// the engine's message and resets the statement.
class KeptStatement {
public:
    static KeptStatement& of(const char* sql);
    ~KeptStatement();
    KeptStatement(const KeptStatement&) = delete;
    KeptStatement& operator=(const KeptStatement&) = delete;

    void bind(int place, const QString& text); // an empty text, never NULL
    void bind(int place, const QByteArray& bytes);
    void bind(int place, qint64 value);
    void bind(int place, int value) { bind(place, qint64(value)); }
    void bind(int place, double value);
    void bindNull(int place);

    bool step();  // true on a row; reset when done
    void run();   // to the end, then reset
    void reset(); // releases the rows and the bound values

    int changes() const;       // rows changed by the last run
    qint64 insertedId() const; // the rowid of the last insert on the connection
    qint64 integer(int column) const;
    // A column as Query::value reads it: null, integer, real, text or bytes.
    QVariant value(int column) const;

private:
    explicit KeptStatement(sqlite3_stmt* s) : s_(s) {}
    [[noreturn]] void fail();
    sqlite3_stmt* s_;
};

// A column's value read as Query::asText and Query::asFloat read it.
QString textOf(const QVariant& v);
double floatOf(const QVariant& v); // raises DbError

// Groups the statements of one piece of work into one durable commit. Every
// path out of the work calls commit(), also the error path (the statements
// that succeeded stand on their own, as without the batch); a failed commit
// raises DbError, as does a transaction that cannot begin (one already open
// outside a BatchGroup included: a batch joins only a group's). A batch left
// without commit() (a missed path) is rolled back and logged: a destructor
// cannot report by throwing.
class Batch {
public:
    Batch();
    ~Batch();
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;
    void commit();
    // Undoes the statements of the batch (after one of them failed).
    void rollback();

private:
    bool active_ = false;
};

// One transaction around many batches, for work that need not reach the disk
// piece by piece (korvane-replay): a Batch inside it starts and ends no
// transaction of its own, and what it did is committed with the group.
// Raises DbError when the group cannot begin or commit; a group left without
// commit() is rolled back.
class BatchGroup {
public:
    BatchGroup();
    ~BatchGroup();
    BatchGroup(const BatchGroup&) = delete;
    BatchGroup& operator=(const BatchGroup&) = delete;
    void commit();
    static bool open();

private:
    // This group's own state: one that has ended (committed) must not end
    // the next group when it is destroyed after it begins.
    bool active_ = false;
};
