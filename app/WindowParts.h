#pragma once

// What the window's files share: port pause and opening failures (the
// helpers that lay out pages and name ports are PageParts', shared with the
// rooms).

#include "PageParts.h"

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

inline QString deviceGone(const TCustomCommX* comm) {
    return deviceGone(comm->devicePath());
}

inline QStringList portItems() {
    QStringList items{QCoreApplication::translate("TFkorvane", "無し")};
    for (int i = 1; i <= 9; ++i)
        items << QStringLiteral("Port %1").arg(i);
    return items;
}

} // namespace windowparts
