#include "ReceivedLines.h"

#include "DecoderCommand.h"
#include "DecoderText.h"
#include "ReceiveBuffer.h"

#include <QStringDecoder>
#include <QTime>

QString FromDecoderText(const QByteArray& bytes) {
    // Opening the converter costs more than the work of a whole line: one
    // per thread, reset so that no text inherits what another left.
    thread_local QStringDecoder sjis("Shift_JIS");
    if (!sjis.isValid())
        return QString::fromLatin1(bytes);
    sjis.resetState();
    return sjis.decode(bytes);
}

void TakeLines(ReceiveBuffer& buffer, int loop, ReceivedLines& out, const PassingSink& store) {
    const QString suffix = QStringLiteral("/%1").arg(loop);
    // The clock text of a note changes once a second, not once a passing.
    int second = -1;
    QString note;
    QByteArray line;
    while (buffer.cutLine(line)) {
        // A line after a chunk that ended with its CR begins with the LF
        // of that CR: not a line of its own in the monitor.
        out.lines << FromDecoderText(line.startsWith('\n') ? line.mid(1) : line);
        if (const auto passing = ParsePassing(line)) {
            store(FromDecoderText(passing->tpid), FromDecoderText(passing->time));
            const QTime now = QTime::currentTime();
            if (now.msecsSinceStartOfDay() / 1000 != second) {
                second = now.msecsSinceStartOfDay() / 1000;
                note = LongTimeText(now) + suffix;
            }
            out.notes << note;
        }
    }
}
