#pragma once

#include <QString>

// Stores one decoder passing in the speed table: loop 1 sets time1 (a new
// transponder's row is created pending), loop 2 sets time2 and marks the
// row pending. Raises DbError on a database failure.
void StorePassing(int loop, const QString& tpid, const QString& time);
