#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

#include <optional>

// What a certificate (a completed record attempt) or a slip (one attempt)
// shows. Plain data: whoever holds the attempts fills it in, this library
// only lays it out, so the documents never read the database themselves.
// Texts (names, decoder times) are shown as given; numbers are formatted
// here, with a point as the decimal separator in either language.

// Which way a run crossed the section.
enum class RunDirection {
    Forward, // loop 1, then loop 2
    Reverse, // loop 2, then loop 1
};

struct CertificateRun {
    qint64 attemptId = 0;
    RunDirection direction = RunDirection::Forward;
    qint64 measuredMs = 0; // PC time of the attempt, UTC milliseconds
    // The decoders' times of the two crossings, as the decoders gave them.
    QString loop1Time;
    QString loop2Time;
    double speedKmh = 0;
    double uncertaintyKmh = 0; // expanded, k = 2
    // Offset between the two decoder clocks when the run was measured, and
    // its recent spread; empty when the decoder watch had no figure.
    std::optional<double> clockOffsetMs;
    std::optional<double> clockSpreadMs;
    // The run's link in the station's chain (kind "attempt").
    qint64 chainSeq = 0;
    QString chainHash; // lower-case hex
    // The attempt's review status as stored ("ok", "suspect", "accepted"...).
    QString status;
};

// One of the operator's review actions on a run, as the chain holds it.
struct CertificateReview {
    qint64 attemptId = 0;
    // "accept", "reject" or "correct" (a new section length); another kind
    // is shown as it is.
    QString kind;
    qint64 atMs = 0; // UTC milliseconds
    QString reason;
};

// The stored record a record attempt had to beat: its mean must exceed
// recordKmh by marginPct percent.
struct CertificateMargin {
    double recordKmh = 0;
    double marginPct = 0;
    double requiredKmh = 0; // recordKmh * (1 + marginPct / 100)
    bool passed = false;
};

struct CertificateData {
    QString event;
    QString station;
    qint64 atMs = 0; // the document's date: when the attempt was completed
    QString driver;
    QString className; // empty: no class
    QString tpid;
    int sectionCm = 0;
    double surveyToleranceMm = 0;
    // A certificate's two runs in the order driven; a slip's one.
    QVector<CertificateRun> runs;
    // The record attempt's result (certificate only).
    double meanKmh = 0;
    double meanUncertaintyKmh = 0;           // expanded, k = 2
    std::optional<CertificateMargin> margin; // empty: no stored record to beat
    QVector<CertificateReview> reviews;
    // The station's key fingerprint as korvane-verify --fingerprint prints it.
    QString fingerprint;
    // The evidence claim the QR code carries, ready-made by the caller.
    QByteArray claim;
};
