#include "ReceivedLines.h"

#include "DecoderCommand.h"
#include "DecoderText.h"
#include "ReceiveBuffer.h"

#include <QCoreApplication>
#include <QStringDecoder>
#include <QTime>

#include <algorithm>
#include <array>

QString FromDecoderText(const QByteArray& bytes) {
    // Opening the converter costs more than the work of a whole line: one
    // per thread, reset so that no text inherits what another left.
    thread_local QStringDecoder sjis("Shift_JIS");
    if (!sjis.isValid())
        return QString::fromLatin1(bytes);
    sjis.resetState();
    return sjis.decode(bytes);
}

namespace {

// The ASCII bytes that the converter turns into the same code and back
// (the converter decides: not every Shift-JIS table keeps the backslash and
// the tilde). A text of only these reads as it is.
const std::array<bool, 128>& sameInAscii() {
    thread_local const std::array<bool, 128> same = [] {
        std::array<bool, 128> t{};
        for (int b = 0; b < 128; ++b) {
            QStringDecoder sjis("Shift_JIS", QStringDecoder::Flag::Stateless);
            QStringEncoder back("Shift_JIS", QStringEncoder::Flag::Stateless);
            const QByteArray one(1, char(b));
            const QString text = sjis.decode(one);
            const QByteArray again = back.encode(text);
            t[b] = sjis.isValid() && back.isValid() && !sjis.hasError() && !back.hasError() &&
                   text == QString(QChar(b)) && again == one;
        }
        return t;
    }();
    return same;
}

} // namespace

std::optional<QString> DecoderTextExactly(const QByteArray& bytes) {
    // IDs and times are nearly always plain ASCII: no converter to open.
    if (std::all_of(bytes.begin(), bytes.end(),
                    [](char c) { return uchar(c) < 0x80 && sameInAscii()[uchar(c)]; }))
        return QString::fromLatin1(bytes);
    // Fresh converters: an error once seen stays with a converter, reset or not.
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
