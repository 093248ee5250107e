#pragma once

#include <QByteArray>
#include <QList>

// Board lines are ASCII and end in CR alone. A display line is an optional
// address letter, a 3-character number field, five spaces, the clock field
// HH:MM:SS.hh, one character, a 2-character field and CR: 23 bytes without
// a letter, 24 with one.

QList<QByteArray> AllNullPattern();     // 2 lines
QList<QByteArray> AllEightPattern();    // 3 lines
QList<QByteArray> OneToZeroPattern();   // 11 lines
QList<QByteArray> ShowAddressPattern(); // 11 lines

// "K    " and the brightness digit, CR. The track bar gives 1..9; anything
// outside is held to that range so the line keeps its single digit.
QByteArray BrightnessLine(int position);

// The two lines that follow the brightness line, 200 ms apart.
QList<QByteArray> BrightnessFollowUpLines();

// 0 -> 2400 bit/s, any other setting -> 9600 bit/s.
int BoardBitRate(int rate);
