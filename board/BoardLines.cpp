#include "BoardLines.h"

namespace {
// letter 0 means no address letter.
QByteArray displayLine(char letter, const char* number, const char* clock, char pos20,
                       const char* twoChar) {
    QByteArray line;
    if (letter)
        line += letter;
    line += number;
    line += "     ";
    line += clock;
    line += pos20;
    line += twoChar;
    line += '\r';
    return line;
}

const char kBlank3[] = "   ";
const char kBlank2[] = "  ";
const char kEights[] = "88:88:88.88";
const char kCount[] = "12:34:56.78";
} // namespace

QList<QByteArray> AllNullPattern() {
    return {
        displayLine('H', kBlank3, "00:  :  .  ", '9', kBlank2),
        displayLine('L', kBlank3, "           ", '9', kBlank2),
    };
}

QList<QByteArray> AllEightPattern() {
    return {
        displayLine('H', kBlank3, kEights, ' ', "88"),
        displayLine('L', "888", kEights, ' ', "88"),
        displayLine(0, "888", kEights, ' ', "88"),
    };
}

QList<QByteArray> OneToZeroPattern() {
    QList<QByteArray> lines{
        displayLine('H', kBlank3, kCount, ' ', kBlank2),
        displayLine(0, "012", kCount, ' ', kBlank2),
    };
    for (char letter = 'A'; letter <= 'I'; ++letter)
        lines << displayLine(letter, "012", kCount, ' ', kBlank2);
    return lines;
}

QList<QByteArray> ShowAddressPattern() {
    QList<QByteArray> lines{
        displayLine('H', kBlank3, kCount, ' ', "90"),
        displayLine(0, "000", "00:00:00.00", ' ', kBlank2),
    };
    // Each addressed part shows its own address: letter A is 1, ... I is 9.
    for (char letter = 'A'; letter <= 'I'; ++letter) {
        const char d = char('1' + (letter - 'A'));
        const QByteArray number(3, d);
        const QByteArray pair(2, d);
        const QByteArray clock = pair + ':' + pair + ':' + pair + '.' + pair;
        lines << displayLine(letter, number.constData(), clock.constData(), ' ', kBlank2);
    }
    return lines;
}

QByteArray BrightnessLine(int position) {
    const int digit = qBound(1, position, 9);
    return QByteArray("K    ") + char('0' + digit) + '\r';
}

QList<QByteArray> BrightnessFollowUpLines() {
    return {
        displayLine(0, "888", kEights, ' ', "88"),
        displayLine('L', "888", kEights, ' ', "88"),
    };
}

int BoardBitRate(int rate) {
    return rate == 0 ? 2400 : 9600;
}
