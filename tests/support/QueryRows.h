#pragma once

#include <QList>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QString>
#include <QVariantList>

// Every row of one query on an open connection, its values bound in order;
// empty when the query fails (tests look at files and servers that may be
// busy or gone just now).
inline QList<QVariantList> queryRows(QSqlDatabase& db, const QString& sql,
                                     const QVariantList& values) {
    QList<QVariantList> out;
    QSqlQuery q(db);
    q.prepare(sql);
    for (const QVariant& v : values)
        q.addBindValue(v);
    if (q.exec()) {
        while (q.next()) {
            QVariantList row;
            for (int i = 0; i < q.record().count(); ++i)
                row << q.value(i);
            out << row;
        }
    }
    return out;
}
