#include "Database.h"
#include "Names.h"
#include "Ranking.h"
#include "SpeedTable.h"

#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

namespace {
void addRow(const QString& tpid, const QVariant& speed, const QString& name = QString()) {
    execSql({QStringLiteral("insert into speed (tpid,speed,sumi,pname) values (?,?,'1',?)")},
            {tpid, speed, name.isNull() ? QVariant() : QVariant(name)});
}
} // namespace

class tst_Ranking : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;

private slots:
    void init() {
        QFile::remove(dir_.filePath(QStringLiteral("t.db")));
        SpeedDb::open(dir_.filePath(QStringLiteral("t.db")));
        SpeedDb::checkNameColumn();
    }
    void cleanup() { SpeedDb::close(); }

    void listsBestSpeedsFastestFirst() {
        addRow(QStringLiteral("100"), 14.586, QStringLiteral("山田"));
        addRow(QStringLiteral("200"), 36.0);
        addRow(QStringLiteral("300"), QVariant()); // loop 1 only: no speed yet
        addRow(QStringLiteral("400"), 0.0);        // created by loop 2 or cleared
        RankingModel m;
        m.refresh();
        QCOMPARE(m.rowCount(), 3);
        QCOMPARE(m.tpid(0), QStringLiteral("200"));
        QCOMPARE(m.data(m.index(0, RankingModel::ColSpeed)).toString(), QStringLiteral("36"));
        QCOMPARE(m.data(m.index(1, RankingModel::ColSpeed)).toString(), QStringLiteral("14.586"));
        QCOMPARE(m.name(1), QStringLiteral("山田"));
        QCOMPARE(m.data(m.index(2, RankingModel::ColSpeed)).toString(), QStringLiteral("0"));
        QCOMPARE(m.headerData(0, Qt::Horizontal).toString(), QStringLiteral("ﾄﾗﾝｽﾎﾟﾝﾀﾞｰID"));
        QCOMPARE(m.headerData(1, Qt::Horizontal).toString(), QStringLiteral("名前"));
        QCOMPARE(m.headerData(2, Qt::Horizontal).toString(), QStringLiteral("スピード"));
        QCOMPARE(m.data(m.index(0, RankingModel::ColTpid), Qt::TextAlignmentRole).toInt(),
                 int(Qt::AlignCenter));
    }

    // Read a page at a time, the grid sees the same list as the whole
    // ranking: every row once, fastest first, ties (here whole pages of
    // them) neither lost nor repeated at a page's edge.
    void pagesJoinIntoTheWholeRanking() {
        const int n = RankingModel::kPageRows * 3 + 7;
        {
            Batch b;
            for (int i = 0; i < n; ++i)
                addRow(QString::number(i), double(i % 5 == 0 ? 50 : i / 300));
            b.commit();
        }
        RankingModel m;
        m.refresh();
        QCOMPARE(m.rowCount(), RankingModel::kPageRows);
        while (m.canFetchMore({}))
            m.fetchMore({});
        QCOMPARE(m.rowCount(), n);
        const QVector<SpeedTable::RankedRow> whole = SpeedTable::ranking();
        QSet<QString> seen;
        for (int r = 0; r < n; ++r) {
            QCOMPARE(m.tpid(r), whole[r].tpid);
            seen.insert(m.tpid(r));
            if (r > 0)
                QVERIFY(m.speedText(r).toDouble() <= m.speedText(r - 1).toDouble());
        }
        QCOMPARE(seen.size(), n);
        // A refresh reads the top anew, not every row seen before.
        addRow(QStringLiteral("new"), 99.0);
        m.refresh();
        QCOMPARE(m.rowCount(), RankingModel::kPageRows);
        QCOMPARE(m.tpid(0), QStringLiteral("new"));
    }

    void lookupAndClear() {
        addRow(QStringLiteral("it's"), 21.5, QStringLiteral("O'Neil"));
        SpeedTable::Lookup r = SpeedTable::lookup(QStringLiteral("it's"));
        QCOMPARE(r.name, QStringLiteral("O'Neil"));
        QCOMPARE(r.speedText, QStringLiteral("21.5"));

        r = SpeedTable::lookup(QStringLiteral("nobody"));
        QCOMPARE(r.name, QString());
        QCOMPARE(r.speedText, QString());

        SpeedTable::clearBest(QStringLiteral("it's"));
        SpeedTable::clearBest(QStringLiteral("nobody")); // no row: changes nothing
        r = SpeedTable::lookup(QStringLiteral("it's"));
        QCOMPARE(r.speedText, QStringLiteral("0"));
        QCOMPARE(r.name, QStringLiteral("O'Neil"));
        RankingModel m;
        m.refresh();
        QCOMPARE(m.rowCount(), 1);
    }

    void failingStatementRaises() {
        SpeedDb::close();
        QTest::ignoreMessage(QtWarningMsg, "QSqlQuery::prepare: database not open");
        QVERIFY_THROWS_EXCEPTION(DbError, SpeedTable::lookup(QStringLiteral("1")));
        // The ranking's page statement fails where the lookup's does.
        QTest::ignoreMessage(QtWarningMsg, "QSqlQuery::prepare: database not open");
        RankingModel m;
        QVERIFY_THROWS_EXCEPTION(DbError, m.refresh());
        SpeedDb::open(dir_.filePath(QStringLiteral("t.db")));
    }

    void equalSpeedsShareARank() {
        addRow(QStringLiteral("a"), 30.0);
        addRow(QStringLiteral("b"), 20.0);
        addRow(QStringLiteral("c"), 20.0);
        addRow(QStringLiteral("d"), 10.0);
        QVector<int> ranks;
        for (const RankingEntry& e : rankingEntries())
            ranks << e.rank;
        QCOMPARE(ranks, (QVector<int>{1, 2, 2, 4}));
    }

    void csvQuotesWhereNeeded() {
        const QVector<RankingEntry> entries{
            {1, QStringLiteral("A,1"), QStringLiteral("say \"hi\""), QStringLiteral("36")},
            {2, QStringLiteral("B"), QStringLiteral("山田\n太郎"), QStringLiteral("14.586")},
            {3, QStringLiteral("C"), QString(), QStringLiteral("0")},
        };
        const QByteArray expected = QStringLiteral("\uFEFF順位,ﾄﾗﾝｽﾎﾟﾝﾀﾞｰID,名前,スピード\r\n"
                                                   "1,\"A,1\",\"say \"\"hi\"\"\",36\r\n"
                                                   "2,B,\"山田\n太郎\",14.586\r\n"
                                                   "3,C,,0\r\n")
                                        .toUtf8();
        QCOMPARE(rankingCsv(entries), expected);
    }

    // Names are typed by people and IDs come from decoders: neither may run
    // as a formula when the file is opened in a spreadsheet.
    void csvCellsNeverStartAFormula() {
        const QVector<RankingEntry> entries{
            {1, QStringLiteral("=1+1"), QStringLiteral("=HYPERLINK(\"http://x\",\"a\")"),
             QStringLiteral("36")},
            {2, QStringLiteral("+81"), QStringLiteral("-2,5"), QStringLiteral("14.5")},
            {3, QStringLiteral("@A1"), QStringLiteral("a=b-c"), QStringLiteral("-1.5")},
        };
        const QByteArray csv = rankingCsv(entries);
        QVERIFY(csv.startsWith("\xEF\xBB\xBF"));
        QCOMPARE(
            QString::fromUtf8(csv.mid(3)).split(QStringLiteral("\r\n")).mid(1),
            (QStringList{QStringLiteral("1,'=1+1,\"'=HYPERLINK(\"\"http://x\"\",\"\"a\"\")\",36"),
                         QStringLiteral("2,'+81,\"'-2,5\",14.5"),
                         QStringLiteral("3,'@A1,a=b-c,'-1.5"), QString()}));
    }

    void exportWritesWholeFileOrReports() {
        addRow(QStringLiteral("7"), 12.25, QStringLiteral("鈴木"));
        const QString path = dir_.filePath(QStringLiteral("out.csv"));
        exportRankingCsv(path);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(f.readAll()),
                 QStringLiteral("順位,ﾄﾗﾝｽﾎﾟﾝﾀﾞｰID,名前,スピード\r\n1,7,鈴木,12.25\r\n"));
        QVERIFY_THROWS_EXCEPTION(RecordError,
                                 exportRankingCsv(dir_.filePath(QStringLiteral("no/dir/x.csv"))));
    }
};

QTEST_GUILESS_MAIN(tst_Ranking)
#include "tst_ranking.moc"
