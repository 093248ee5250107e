#include "PassingStore.h"

#include "DecoderCommand.h"
#include "DecoderText.h"
#include "ReceiveBuffer.h"

#include "Database.h"

#include <QStringDecoder>
#include <QTime>

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

QString FromDecoderText(const QByteArray& bytes) {
    QStringDecoder sjis("Shift_JIS");
    if (!sjis.isValid())
        return QString::fromLatin1(bytes);
    return sjis.decode(bytes);
}

void TakeLines(ReceiveBuffer& buffer, int loop, ReceivedLines& out) {
    const QString suffix = QStringLiteral("/%1").arg(loop);
    Batch batch;
    try {
        QByteArray line;
        while (buffer.cutLine(line)) {
            out.lines << FromDecoderText(line);
            if (const auto passing = ParsePassing(line)) {
                StorePassing(loop, FromDecoderText(passing->tpid), FromDecoderText(passing->time));
                out.notes << LongTimeText(QTime::currentTime()) + suffix;
            }
        }
    } catch (...) {
        batch.commit();
        throw;
    }
    batch.commit();
}
