#pragma once

// A pseudo-terminal pair for data-path tests: the component opens the slave
// path, the test drives the master, set raw so nothing is translated or
// echoed on the test's side either.

#include "Pty.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cerrno>

#include <unistd.h>

class PtyPair {
public:
    PtyPair() { m_master = openRawPtyMaster(m_slave); }
    ~PtyPair() { closeMaster(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return m_master >= 0 && !m_slave.isEmpty(); }
    int master() const { return m_master; }
    QString slavePath() const { return m_slave; }

    void closeMaster() {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }

    bool writeAll(const QByteArray& data) {
        qsizetype done = 0;
        while (done < data.size()) {
            const ssize_t n =
                ::write(m_master, data.constData() + done, size_t(data.size() - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            done += n;
        }
        return true;
    }

    // Blocking read of exactly n bytes (the caller knows they come).
    QByteArray readExactly(qsizetype n) {
        QByteArray out;
        char buf[4096];
        while (out.size() < n) {
            const ssize_t r =
                ::read(m_master, buf, size_t(std::min<qsizetype>(sizeof buf, n - out.size())));
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0)
                break;
            out.append(buf, r);
        }
        return out;
    }

private:
    int m_master = -1;
    QString m_slave;
};
