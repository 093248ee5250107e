#include "DecoderCommand.h"

#include <QTime>

namespace {
QByteArray commandLine(int decid, const QByteArray& body) {
    QByteArray line;
    line.append('\x01');
    line.append("?,");
    line.append(QByteArray::number(decid));
    line.append(body);
    line.append("\r\n");
    return line;
}
} // namespace

QByteArray ClockCommand(int decid, int S) {
    return commandLine(decid, ",0,9," + QByteArray::number(S) + ",");
}

QByteArray ProtocolCommand(int decid) {
    return commandLine(decid, QByteArray(",0,37,0,") + kProtocolCode + ",");
}

QByteArray DisplayCopy(const QByteArray& command) {
    return command.startsWith('\x01') ? command.mid(1) : command;
}

int SecondsOfDay(const QTime& t) {
    if (!t.isValid())
        return 0;
    return t.hour() * 3600 + t.minute() * 60 + t.second();
}

QString LongTimeText(const QTime& t) {
    return QStringLiteral("%1:%2:%3")
        .arg(t.hour())
        .arg(t.minute(), 2, 10, QLatin1Char('0'))
        .arg(t.second(), 2, 10, QLatin1Char('0'));
}
