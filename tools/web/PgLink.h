#pragma once

#include <QSqlDatabase>
#include <QString>

// One named connection to the event's server, opened when first needed and
// again after a failure: a read that raised leaves it closed, so that the
// next read connects anew instead of failing on a dead socket.
class PgLink {
public:
    PgLink(QString name, QString options);
    ~PgLink();
    PgLink(const PgLink&) = delete;
    PgLink& operator=(const PgLink&) = delete;

    // The open connection; raises DbError when it cannot be opened.
    QSqlDatabase db();
    void close();
    bool isOpen() const { return open_; }

    // f(db()), the connection closed when it raises.
    template <class F> auto read(F f) {
        try {
            return f(db());
        } catch (...) {
            close();
            throw;
        }
    }

private:
    QString name_;
    QString options_;
    bool open_ = false;
};
