#pragma once

// Runs korvane-replay on a capture and gives its output.
#include "Capture.h"

#include <QByteArray>
#include <QProcess>
#include <QStringList>

namespace replaytest {

struct Output {
    bool ok = false;
    QByteArray out; // the attempts
    QByteArray err; // the summary
};

inline Output replay(const QStringList& args, int timeoutMs = 60000) {
    QProcess p;
    p.start(QStringLiteral(KORVANE_REPLAY_BIN), args);
    Output o;
    o.ok =
        p.waitForFinished(timeoutMs) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    o.out = p.readAllStandardOutput();
    o.err = p.readAllStandardError();
    return o;
}

// A passing line as a decoder sends it.
inline QByteArray passing(int loop, const QByteArray& tpid, double clock) {
    return "@\t" + QByteArray::number(loop) + "\t0\t" + tpid + '\t' +
           QByteArray::number(clock, 'f', 3) + "\t0\t\r\n";
}

} // namespace replaytest
