#include "SpillFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class tst_SpillFile : public QObject {
    Q_OBJECT

    static QueuedPassing passing(int loop, const QString& tpid, const QString& time,
                                 const QByteArray& raw, qint64 ms) {
        return {loop, tpid, time, ms, raw};
    }
    static QString describe(const QueuedPassing& p) {
        return QStringLiteral("%1|%2|%3|%4|%5")
            .arg(p.loop)
            .arg(p.tpid, p.time)
            .arg(p.receivedMs)
            .arg(QString::fromLatin1(p.raw.toHex()));
    }
    static QString describe(const MeasuredRow& m) {
        QString s = QStringLiteral("%1|%2|%3").arg(m.tpid).arg(m.time2, 0, 'g', 17).arg(m.newBest);
        if (m.attempt) {
            const Journal::Attempt& a = *m.attempt;
            s += QStringLiteral("|%1|%2|%3|%4|%5|%6|%7|%8|%9")
                     .arg(a.tpid)
                     .arg(a.passing1)
                     .arg(a.passing2)
                     .arg(a.time1, 0, 'g', 17)
                     .arg(a.time2, 0, 'g', 17)
                     .arg(a.distCm)
                     .arg(a.speed, 0, 'g', 17)
                     .arg(a.speedText)
                     .arg(a.flags) +
                 QStringLiteral("|%1|%2").arg(a.status).arg(a.measuredMs);
        }
        return s;
    }
    template <class T> static QStringList describeAll(const QList<T>& items) {
        QStringList out;
        for (const T& i : items)
            out << describe(i);
        return out;
    }

private slots:
    // What goes in comes out, in order, across appends and a writer killed
    // in the middle of a line; the odd bytes of decoder lines and IDs
    // included.
    void recordsReadBackAsTheyWereAppended() {
        QTemporaryDir dir;
        SpillFile spill(dir.filePath(QStringLiteral("Korvane.db")));
        QCOMPARE(spill.path(), dir.filePath(QStringLiteral("Korvane.pending")));
        QVERIFY(!spill.exists());

        Journal::Attempt a;
        a.tpid = QStringLiteral("a b,-%");
        a.passing1 = 17;
        a.passing2 = 0;
        a.time1 = 1000.123456789;
        a.time2 = 1000.623456789;
        a.distCm = 500;
        a.speed = 35.99999999;
        a.speedText = QStringLiteral("36");
        a.flags = 5;
        a.status = QStringLiteral("suspect");
        a.measuredMs = 1733660000123;
        const QList<MeasuredRow> measured{{a.tpid, a.time2, a, QStringLiteral("36"), {}},
                                          {QStringLiteral("ＩＤ"), 0, std::nullopt, QString(), {}}};
        const QList<QueuedPassing> first{
            passing(1, QStringLiteral("1234"), QStringLiteral("100.000"),
                    "@\t1\t0\t1234\t100.000\t0\t\r\n", 1733660000000),
            passing(2, QStringLiteral("-"), QString(), QByteArray("\x00 %-,\xff", 6), 0)};
        const QList<QueuedPassing> second{
            passing(2, QStringLiteral("名前"), QStringLiteral("1"), QByteArray(), -1)};
        QString why;
        QVERIFY2(spill.append(measured, first, &why), qPrintable(why));
        {
            QFile f(spill.path());
            QVERIFY(f.open(QIODevice::Append));
            f.write("P 1 1 cut-sh"); // a writer killed in the middle
        }
        QVERIFY2(spill.append({}, second, &why), qPrintable(why));

        SpillContents in;
        QVERIFY2(spill.read(in, &why), qPrintable(why));
        QCOMPARE(describeAll(in.measured), describeAll(measured));
        QCOMPARE(describeAll(in.passings), describeAll(first + second));
        QCOMPARE(in.skippedLines, qsizetype(1));

        QVERIFY(spill.remove(&why));
        QVERIFY(!spill.exists());
        QVERIFY(spill.read(in, &why));
        QVERIFY(in.passings.isEmpty() && in.measured.isEmpty());
    }
};

QTEST_GUILESS_MAIN(tst_SpillFile)
#include "tst_spillfile.moc"
