#pragma once

#include <QByteArray>

// The bytes of one loop received and not yet cut into lines. A partial line
// waits here for its CR across chunks. The buffer is bounded so that a
// decoder sending noise without CRs cannot exhaust memory.
class ReceiveBuffer {
public:
    static constexpr qsizetype kDefaultLimit = 64 * 1024;

    explicit ReceiveBuffer(qsizetype limit = kDefaultLimit) : limit_(limit > 0 ? limit : 1) {}

    // Appends a chunk. When the buffer then holds more than the limit, the
    // unfinished line (after the last CR) goes first if it alone is longer
    // than the limit, then the oldest uncut lines, until it fits. Returns the
    // number of bytes discarded, 0 normally, so the caller can note it.
    qsizetype append(const QByteArray& chunk);

    // CutLine on the buffer: false when no complete line is waiting or the
    // next line is empty (which ends the processing of one notification).
    bool cutLine(QByteArray& line);

    const QByteArray& data() const { return buffer_; }
    qsizetype size() const { return buffer_.size(); }
    qsizetype limit() const { return limit_; }

private:
    QByteArray buffer_;
    qsizetype limit_;
};
