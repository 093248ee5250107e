#pragma once

// Helpers that the window's pages and the rooms' pages share: how a port is
// named and a failure shortened for the alarm and the event log, the window's
// colour, and labels and frames placed the way the window places them.

#include <QColor>
#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QString>

#include <cstdio>

namespace windowparts {

inline constexpr int kReasonChars = 40;

// The first line of a failure, short enough for the alarm and the event log.
inline QString shortReason(const QString& reason) {
    QString first = reason.section(QLatin1Char('\n'), 0, 0).trimmed();
    if (first.size() > kReasonChars)
        first = first.left(kReasonChars - 1) + QChar(0x2026);
    return first;
}

// The alarm also goes to standard error, as the message boxes do, for an
// operator who runs the program from a terminal.
inline void tellTerminal(const QString& text) {
    const QByteArray line = "korvane: " + text.toUtf8() + '\n';
    std::fputs(line.constData(), stderr);
    std::fflush(stderr);
}

// How the alarm and the event log name a port: the loops by number, the
// board as its settings group does.
inline QString portName(int port) {
    return port == 3 ? QCoreApplication::translate("TFkorvane", "出力ポート")
                     : QCoreApplication::translate("TFkorvane", "ループ%1").arg(port);
}

// The failure of a port whose open device went away.
inline QString deviceGone(const QString& devicePath) {
    return QCoreApplication::translate("TFkorvane",
                                       "%1: 装置が見つかりません（抜かれた可能性があります）")
        .arg(devicePath);
}

// Colours are stored as the operator's settings give them: red in the low byte.
inline QColor tcolor(quint32 c) {
    return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
}

inline constexpr quint32 kWindowColour = 10571786;

inline QLabel* label(const QString& text, QWidget* parent, int x, int y, int w = -1, int h = 18) {
    auto* l = new QLabel(text, parent);
    if (w < 0)
        w = l->sizeHint().width() + 4;
    l->setGeometry(x, y, w, h);
    return l;
}

inline QFrame* frame(QWidget* parent, int x, int y, int w, int h) {
    auto* f = new QFrame(parent);
    f->setFrameShape(QFrame::Box);
    f->setFrameShadow(QFrame::Sunken);
    f->setGeometry(x, y, w, h);
    f->lower();
    return f;
}

} // namespace windowparts
