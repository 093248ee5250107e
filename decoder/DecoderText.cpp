#include "DecoderText.h"

void CutLine(QByteArray& buffer, QByteArray& line) {
    const qsizetype cr = buffer.indexOf('\r');
    if (cr < 0) {
        line.clear();
        return;
    }
    line = buffer.left(cr);
    buffer.remove(0, qMin(cr + 2, buffer.size()));
}

void CutField(QByteArray& rest, QByteArray& field) {
    const qsizetype tab = rest.indexOf('\t');
    if (tab < 0) {
        field.clear();
        return;
    }
    field = rest.left(tab);
    rest.remove(0, tab + 1);
}

std::optional<Passing> ParsePassing(QByteArray line) {
    QByteArray field;
    CutField(line, field);
    if (!field.contains('@'))
        return std::nullopt;
    Passing p;
    CutField(line, field); // field 2, unused
    CutField(line, field); // field 3, unused
    CutField(line, p.tpid);
    CutField(line, p.time);
    return p;
}
