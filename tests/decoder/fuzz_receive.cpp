// libFuzzer target for the decoder receive path: arbitrary bytes, split into
// arbitrary chunks, go through the receive buffer, line cutting and passing
// parsing the way the receive handler drives them.
#include "DecoderText.h"
#include "ReceiveBuffer.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    // The first byte picks a small limit so that the fuzzer reaches the
    // discarding paths with short inputs; 0 means the real 64 KiB.
    const qsizetype limit = data[0] == 0 ? ReceiveBuffer::kDefaultLimit : qsizetype(data[0]);
    ReceiveBuffer buffer(limit);
    size_t pos = 1;
    while (pos < size) {
        // Each chunk is led by its length byte, as an OnReceive count.
        const size_t want = size_t(data[pos++]) + 1;
        const size_t n = want < size - pos ? want : size - pos;
        const QByteArray chunk(reinterpret_cast<const char*>(data + pos), qsizetype(n));
        pos += n;

        const qsizetype before = buffer.size();
        const qsizetype discarded = buffer.append(chunk);
        if (buffer.size() > limit + qsizetype(n) || buffer.size() > limit)
            std::abort();
        if (discarded < 0 || before + qsizetype(n) - discarded != buffer.size())
            std::abort();

        QByteArray line;
        while (buffer.cutLine(line)) {
            if (line.contains('\r'))
                std::abort();
            const std::optional<Passing> p = ParsePassing(line);
            QByteArray rest = line, field1;
            CutField(rest, field1);
            if (p.has_value() != field1.contains('@'))
                std::abort();
            if (p && !line.contains('@'))
                std::abort();
            if (p && (p->tpid.contains('\t') || p->time.contains('\t')))
                std::abort();
        }
    }
    return 0;
}
