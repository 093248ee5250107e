#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

// Zip files of stored (uncompressed) entries, enough for an evidence bundle:
// a handful of small text files that any unzip tool opens. Entries are
// written flat, in the order of their names, dated 1980-01-01 00:00 so that
// the same bundle gives the same bytes; no compression, no encryption, no
// archive of more than 65535 entries or 4 GiB (the classic format's limits).
namespace Zip {

// Empty with why set when a file is too large for the classic format.
QByteArray write(const QMap<QString, QByteArray>& files, QString* why);

// The entries of a zip written by write() (or any zip of stored entries);
// false with why set for anything else or a damaged file: a bad signature,
// a size or offset off the end, a compressed entry, a CRC that does not hold.
bool read(const QByteArray& zip, QMap<QString, QByteArray>* files, QString* why);

} // namespace Zip
