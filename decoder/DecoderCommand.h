#pragma once

#include <QByteArray>
#include <QString>

class QTime;

// The code the protocol command carries to every decoder.
inline constexpr const char kProtocolCode[] = "7360452";

// 0x01 "?," ID ",0,9," S "," CR LF: sets the decoder clock to S seconds.
QByteArray ClockCommand(int decid, int S);

// 0x01 "?," ID ",0,37,0,7360452," CR LF.
QByteArray ProtocolCommand(int decid);

// The command as the operator sees it: without the leading 0x01, CR LF kept.
QByteArray DisplayCopy(const QByteArray& command);

// Whole seconds since midnight, 0..86399, taken from the time itself rather
// than from locale-formatted text (which may not have the expected shape).
int SecondsOfDay(const QTime& t);

// The time of day for the event log, hour without a leading zero: "9:05:07".
QString LongTimeText(const QTime& t);
