#pragma once

#include <QString>

// Why a serial device may not be opened by this user, in words the operator
// can act on. An adapter that appears as /dev/ttyUSB0 usually belongs to a
// group (dialout on Debian); a new user is not in it.

// The errno an open of the device for reading and writing would meet for
// lack of permission: EACCES when this process' user may not, otherwise 0
// (also when the device is missing, which the open reports itself).
int deviceAccessError(const QString& path);

// For an open that failed with `error`: when that is EACCES, the group that
// owns the device and the command that adds the user to it, or, when no
// group may read and write the device, that an administrator must allow it.
// Empty for every other error.
QString devicePermissionHint(const QString& path, int error);

// Both together: the hint for a device this user may not open, else empty.
inline QString deviceAccessHint(const QString& path) {
    return devicePermissionHint(path, deviceAccessError(path));
}
