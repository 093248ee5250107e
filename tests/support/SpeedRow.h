#pragma once

// One row of table speed as the tests compare it: "<none>" in every field
// when the transponder has no row.
#include "Database.h"

#include <QString>

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
