#include "ReceivedLines.h"

#include "DecoderCommand.h"
#include "DecoderText.h"
#include "ReceiveBuffer.h"

#include <QStringDecoder>
#include <QTime>

QString FromDecoderText(const QByteArray& bytes) {
    QStringDecoder sjis("Shift_JIS");
    if (!sjis.isValid())
        return QString::fromLatin1(bytes);
    return sjis.decode(bytes);
}

void TakeLines(ReceiveBuffer& buffer, int loop, ReceivedLines& out, const PassingSink& store) {
    const QString suffix = QStringLiteral("/%1").arg(loop);
    QByteArray line;
    while (buffer.cutLine(line)) {
        // A line after a chunk that ended with its CR begins with the LF
        // of that CR: not a line of its own in the monitor.
        out.lines << FromDecoderText(line.startsWith('\n') ? line.mid(1) : line);
        if (const auto passing = ParsePassing(line)) {
            store(FromDecoderText(passing->tpid), FromDecoderText(passing->time));
            out.notes << LongTimeText(QTime::currentTime()) + suffix;
        }
    }
}
