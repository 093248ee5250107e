#pragma once

// One row of table speed as the tests compare it: "<none>" in every field
// when the transponder has no row.
#include "Database.h"

#include <QString>
#include <QTemporaryDir>

struct SpeedRow {
    QString time1, time2, speed, sumi;
};

inline SpeedRow row(const QString& tpid) {
    Query q;
    q.setSql({"select * from speed where tpid=?"}, {tpid});
    q.open();
    if (q.isEmpty())
        return {"<none>", "<none>", "<none>", "<none>"};
    return {q.asText("time1"), q.asText("time2"), q.asText("speed"), q.asText("sumi")};
}

// A fresh speed database in its own temporary folder for one test function,
// closed and removed when it goes.
class FreshSpeedDb {
public:
    FreshSpeedDb() {
        SpeedDb::open(path());
        SpeedDb::checkNameColumn();
    }
    ~FreshSpeedDb() { SpeedDb::close(); }
    QString path() const { return dir_.filePath("Korvane.db"); }

private:
    QTemporaryDir dir_;
};
