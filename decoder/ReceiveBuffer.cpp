#include "ReceiveBuffer.h"

#include "DecoderText.h"

qsizetype ReceiveBuffer::append(const QByteArray& chunk) {
    buffer_.append(chunk);
    if (buffer_.size() <= limit_)
        return 0;

    const qsizetype before = buffer_.size();
    // The unfinished line starts after the last CR and the byte that follows
    // it; lines that are complete may still be valid, so noise goes first.
    const qsizetype lastCr = buffer_.lastIndexOf('\r');
    const qsizetype tailStart = lastCr < 0 ? 0 : qMin(lastCr + 2, buffer_.size());
    if (buffer_.size() - tailStart > limit_)
        buffer_.truncate(tailStart);

    QByteArray dropped;
    while (buffer_.size() > limit_ && buffer_.contains('\r'))
        CutLine(buffer_, dropped);
    if (buffer_.size() > limit_)
        buffer_.clear();
    return before - buffer_.size();
}

bool ReceiveBuffer::cutLine(QByteArray& line) {
    CutLine(buffer_, line);
    return !line.isEmpty();
}
