#pragma once

// The window's pause around a port change at its full length while this
// object lives, in the test and in the programs it starts: the test run
// shortens the pause (KORVANE_TEST_PORT_PAUSE_MS), and a test of what happens
// inside it needs it whole.
#include <QByteArray>
#include <QtGlobal>

class FullPortPause {
public:
    FullPortPause() : saved_(qgetenv(kName)) { qunsetenv(kName); }
    ~FullPortPause() {
        if (!saved_.isNull())
            qputenv(kName, saved_);
    }
    FullPortPause(const FullPortPause&) = delete;
    FullPortPause& operator=(const FullPortPause&) = delete;

private:
    static constexpr const char* kName = "KORVANE_TEST_PORT_PAUSE_MS";
    QByteArray saved_;
};
