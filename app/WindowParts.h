#pragma once

// What the window's files share: port pause and opening failures, and the
// helpers that lay out its pages.

#include "CommX.h"
#include "DeviceAccess.h"

#include <QColor>
#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <exception>

namespace windowparts {

// The pause around opening a port, kept responsive.
inline constexpr int kPortPauseMs = 380;
// The hidden event log keeps the latest notes only, so that a long day of
// passings cannot fill the memory.
inline constexpr int kEventLogLines = 10000;

inline QString openFailureDetail(const TCustomCommX* comm, const std::exception& e) {
    QString reason = comm->lastOpenError();
    if (reason.isEmpty())
        reason = QString::fromUtf8(e.what());
    const QString hint = deviceAccessHint(comm->devicePath());
    if (!hint.isEmpty())
        reason += QStringLiteral("\n\n") + hint;
    return comm->devicePath().isEmpty() ? reason
                                        : comm->devicePath() + QStringLiteral(": ") + reason;
}

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
inline QString deviceGone(const TCustomCommX* comm) {
    return QCoreApplication::translate("TFkorvane",
                                       "%1: 装置が見つかりません（抜かれた可能性があります）")
        .arg(comm->devicePath());
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

inline QStringList portItems() {
    QStringList items{QCoreApplication::translate("TFkorvane", "無し")};
    for (int i = 1; i <= 9; ++i)
        items << QStringLiteral("Port %1").arg(i);
    return items;
}

} // namespace windowparts
