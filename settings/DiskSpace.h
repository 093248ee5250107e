#pragma once

#include <QString>

#include <functional>

// The room left on the file system that holds a folder: what the status page
// watches before the speed table's writes fail for lack of it.
namespace diskspace {

// Bytes an unprivileged program may still write there; -1 when unknown.
qint64 available(const QString& folder);

// Tests answer in place of the file system (an empty function: the file
// system again).
void setProbe(std::function<qint64(const QString& folder)> probe);

} // namespace diskspace
