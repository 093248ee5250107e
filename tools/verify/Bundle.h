#pragma once

#include "ChainCheck.h"

#include <QByteArray>
#include <QHash>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

// Evidence bundles: one or more attempts taken out of a station's data folder
// with everything needed to check them without it.
//
//   bundle.json   the attempts as a reader sees them (with their passings'
//                 raw lines and the reviews that touched them), the chain's
//                 links from the first of their passings up to the nearest
//                 signed head after each (several runs of links where they
//                 lie apart), each with the covered row in the chain's own
//                 encoding (hex), and the signed heads
//   evidence.pub  the station's public key (hex)
//   README.txt    what the bundle is and how to check it
//
// A bundle is a folder of these files or a zip of them (Zip.h).
namespace Bundle {

inline const QString kJson = QStringLiteral("bundle.json");

// The bundle's files for the attempts, from a data folder. Empty with why set
// when an attempt is not in the chain or the folder cannot be read.
QMap<QString, QByteArray> make(const QString& dataDir, const QVector<qint64>& attempts,
                               QString* why);

// Writes the files as a folder, or as a zip when `out` ends in ".zip".
bool save(const QMap<QString, QByteArray>& files, const QString& out, QString* why);
// A bundle folder or zip; false with why set for anything else.
bool load(const QString& path, QMap<QString, QByteArray>* files, QString* why);
// Whether the path looks like a bundle rather than a data folder.
bool isBundle(const QString& path);

struct Link {
    QString kind;
    qint64 rowId = 0;
    QByteArray hash;
    bool signedHead = false; // a valid signed head covers it
};

struct Report {
    QString error; // unreadable: nothing checked
    QByteArray key;
    std::optional<ChainCheck::Break> first;
    QStringList lines;        // what the bundle holds, for the reader
    QMap<qint64, Link> links; // by seq
    QVector<qint64> attempts; // the attempts it is about
    QStringList unsignedRuns; // rows not covered by a signed head
    bool ok() const { return error.isEmpty() && !first; }
};

// Checks the bundle alone: every link's hash anew, every head's signature by
// `key` (empty: the bundle's own), each attempt's passings and reviews against
// its link, its speed against its passings' times and the section.
Report verify(const QMap<QString, QByteArray>& files, const QByteArray& key = {});

// The hash of the data folder's chain at `seq` and its last seq, on a
// connection that changes nothing.
struct At {
    QString error;
    qint64 lastSeq = 0;
    std::optional<QByteArray> hash;
};
At linkAt(const QString& databasePath, qint64 seq);

} // namespace Bundle
