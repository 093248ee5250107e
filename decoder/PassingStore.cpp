#include "PassingStore.h"

#include "Database.h"

namespace {

bool rowExists(const QString& tpid) {
    Query locate;
    locate.setSql({QStringLiteral("select tpid from speed where tpid=?")}, {tpid});
    locate.open();
    return !locate.isEmpty();
}

} // namespace

void StorePassing(int loop, const QString& tpid, const QString& time) {
    const bool known = rowExists(tpid);
    if (loop == 1) {
        if (known)
            execSql({QStringLiteral("update speed set time1=?"), QStringLiteral("where tpid=?")}, {time, tpid});
        else
            execSql({QStringLiteral("insert into speed (tpid,time1,sumi)values("),
                     QStringLiteral("?,?,'0')")},
                    {tpid, time});
    } else {
        if (known)
            execSql({QStringLiteral("update speed set time2=?,sumi='0'"), QStringLiteral("where tpid=?")},
                    {time, tpid});
        else
            execSql({QStringLiteral("insert into speed (tpid,time2,speed,sumi)values("),
                     QStringLiteral("?,?,'0','0')")},
                    {tpid, time});
    }
}
