#include "ReceivedLines.h"

#include "DecoderCommand.h"
#include "DecoderText.h"
#include "ReceiveBuffer.h"

#include <QCoreApplication>
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

std::optional<QString> DecoderTextExactly(const QByteArray& bytes) {
    QStringDecoder sjis("Shift_JIS", QStringDecoder::Flag::Stateless);
    QStringEncoder back("Shift_JIS", QStringEncoder::Flag::Stateless);
    if (!sjis.isValid() || !back.isValid())
        return QString::fromLatin1(bytes);
    const QString text = sjis.decode(bytes);
    if (sjis.hasError())
        return std::nullopt;
    // Only a text that gives back the very same bytes is one ID: invalid
    // bytes, a lone lead byte and codes without a character of their own
    // would otherwise share their text with another transponder's ID.
    const QByteArray again = back.encode(text);
    if (back.hasError() || again != bytes)
        return std::nullopt;
    return text;
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
        if (line.startsWith('\n'))
            line.remove(0, 1);
        out.lines << FromDecoderText(line);
        if (const auto passing = ParsePassing(line)) {
            const std::optional<QString> tpid = DecoderTextExactly(passing->tpid);
            const std::optional<QString> time = DecoderTextExactly(passing->time);
            const QTime now = QTime::currentTime();
            if (now.msecsSinceStartOfDay() / 1000 != second) {
                second = now.msecsSinceStartOfDay() / 1000;
                note = LongTimeText(now) + suffix;
            }
            if (!tpid || !time) {
                out.notes << note + QCoreApplication::translate(
                                        "TFkorvane",
                                        " 通過を記録しませんでした（IDか時刻がシフトJISの文"
                                        "字ではありません）");
                continue;
            }
            store(*tpid, *time, line);
            out.notes << note;
        }
    }
}
