#include "Database.h"
#include "Names.h"
#include "Registration.h"
#include "SpeedTable.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {
void addRow(const QString& tpid, const QString& name = QString()) {
    execSql({QStringLiteral("insert into speed (tpid,speed,sumi,pname) values (?,1,'1',?)")},
            {tpid, name.isNull() ? QVariant() : QVariant(name)});
}

QString storedName(const QString& tpid) {
    Query q;
    q.setSql({QStringLiteral("select pname from speed where tpid=?")}, {tpid});
    q.open();
    return q.isEmpty() ? QStringLiteral("<no row>") : q.asText(QStringLiteral("pname"));
}
} // namespace

class tst_Registration : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    RegistrationModel* m_ = nullptr;

private slots:
    void init() {
        QFile::remove(dir_.filePath(QStringLiteral("t.db")));
        SpeedDb::open(dir_.filePath(QStringLiteral("t.db")));
        SpeedDb::checkNameColumn();
        addRow(QStringLiteral("20"), QStringLiteral("B"));
        addRow(QStringLiteral("100"));
        addRow(QStringLiteral("3"), QStringLiteral("C"));
        m_ = new RegistrationModel;
        m_->open();
    }
    void cleanup() {
        delete m_;
        SpeedDb::close();
    }

    // Read a page at a time: locating an ID reads the pages up to it, the
    // rows join into the whole list in ID order, and an ID changed in the
    // last row read does not move where the next page starts.
    void pagesJoinIntoTheWholeList() {
        {
            Batch b;
            for (int i = 0; i < RegistrationModel::kPageRows * 2 + 5; ++i)
                addRow(QStringLiteral("x%1").arg(i, 4, 10, QLatin1Char('0')));
            b.commit();
        }
        m_->open();
        QCOMPARE(m_->rowCount(), RegistrationModel::kPageRows);
        const int last = RegistrationModel::kPageRows - 1;
        const QString lastId = m_->tpid(last);
        QVERIFY(
            m_->setData(m_->index(last, RegistrationModel::ColTpid), QStringLiteral("0-moved")));
        QVERIFY(m_->submit());
        QCOMPARE(m_->locate(QStringLiteral("x0400")), 400 + 3);
        while (m_->canFetchMore({}))
            m_->fetchMore({});
        const QVector<SpeedTable::NameRow> whole = SpeedTable::names();
        QCOMPARE(m_->rowCount(), whole.size());
        QCOMPARE(whole.first().tpid, QStringLiteral("0-moved"));
        for (int r = 0; r < m_->rowCount(); ++r)
            if (r != last)
                QCOMPARE(m_->tpid(r), whole[r < last ? r + 1 : r].tpid);
        QCOMPARE(m_->locate(lastId), -1);
        QCOMPARE(m_->locate(QStringLiteral("zzz")), -1);
    }

    void listsAllSortedByIdAsText() {
        QCOMPARE(m_->rowCount(), 3);
        QCOMPARE(m_->columnCount(), 2);
        QCOMPARE(m_->tpid(0), QStringLiteral("100"));
        QCOMPARE(m_->tpid(1), QStringLiteral("20"));
        QCOMPARE(m_->tpid(2), QStringLiteral("3"));
        QCOMPARE(m_->name(0), QString());
        QCOMPARE(m_->locate(QStringLiteral("3")), 2);
        QCOMPARE(m_->locate(QStringLiteral("30")), -1);
        QCOMPARE(m_->headerData(0, Qt::Horizontal).toString(), QStringLiteral("ﾄﾗﾝｽﾎﾟﾝﾀﾞｰID"));
        m_->close();
        QCOMPARE(m_->rowCount(), 0);
    }

    void editIsWrittenWhenSubmittedAndDroppedOnRevert() {
        QVERIFY(m_->setData(m_->index(1, RegistrationModel::ColName), QStringLiteral("佐藤")));
        QVERIFY(m_->hasPendingEdit());
        QCOMPARE(storedName(QStringLiteral("20")),
                 QStringLiteral("B")); // not before the row is left
        QVERIFY(m_->submit());
        QCOMPARE(storedName(QStringLiteral("20")), QStringLiteral("佐藤"));

        QVERIFY(m_->setData(m_->index(1, RegistrationModel::ColName), QStringLiteral("x")));
        m_->revert();
        QCOMPARE(m_->name(1), QStringLiteral("佐藤"));
        QVERIFY(m_->submit());
        QCOMPARE(storedName(QStringLiteral("20")), QStringLiteral("佐藤"));
    }

    void editingAnotherRowWritesThePendingOne() {
        QVERIFY(m_->setData(m_->index(0, RegistrationModel::ColName), QStringLiteral("first")));
        QVERIFY(m_->setData(m_->index(2, RegistrationModel::ColName), QStringLiteral("third")));
        QCOMPARE(storedName(QStringLiteral("100")), QStringLiteral("first"));
        QVERIFY(m_->submit());
        QCOMPARE(storedName(QStringLiteral("3")), QStringLiteral("third"));
    }

    void idChangeKeepsOneRowPerTransponder() {
        QSignalSpy refused(m_, &RegistrationModel::refused);
        QVERIFY(!m_->setData(m_->index(0, RegistrationModel::ColTpid), QStringLiteral("20")));
        QCOMPARE(refused.size(), 1);
        QVERIFY(refused.at(0).at(0).toString().contains(QStringLiteral("20")));
        QVERIFY(!m_->setData(m_->index(0, RegistrationModel::ColTpid), QString()));
        QCOMPARE(m_->tpid(0), QStringLiteral("100"));

        // Change, then change back to its own stored ID: no clash.
        QVERIFY(m_->setData(m_->index(0, RegistrationModel::ColTpid), QStringLiteral("it's")));
        QVERIFY(m_->setData(m_->index(0, RegistrationModel::ColTpid), QStringLiteral("100")));
        QVERIFY(m_->setData(m_->index(0, RegistrationModel::ColTpid), QStringLiteral("it's")));
        QVERIFY(m_->submit());
        QCOMPARE(storedName(QStringLiteral("it's")), QString());
        QCOMPARE(storedName(QStringLiteral("100")), QStringLiteral("<no row>"));
    }

    void clashArisingBeforeTheWriteIsRefusedAndReverted() {
        QSignalSpy refused(m_, &RegistrationModel::refused);
        QVERIFY(m_->setData(m_->index(0, RegistrationModel::ColTpid), QStringLiteral("55")));
        addRow(QStringLiteral("55")); // a decoder saw transponder 55 meanwhile
        QVERIFY(!m_->submit());
        QCOMPARE(refused.size(), 1);
        QCOMPARE(m_->tpid(0), QStringLiteral("100"));
        QVERIFY(!m_->hasPendingEdit());
        QCOMPARE(storedName(QStringLiteral("100")), QString());
    }

    void gridNamesFollowTheNameRule() {
        QSignalSpy refused(m_, &RegistrationModel::refused);
        QVERIFY(m_->setData(m_->index(0, RegistrationModel::ColName), QString(15, QChar(0x5C71))));
        QVERIFY(!m_->setData(m_->index(0, RegistrationModel::ColName), QString(16, QChar(0x5C71))));
        QVERIFY(!m_->setData(m_->index(0, RegistrationModel::ColName), QStringLiteral("😀")));
        QCOMPARE(refused.size(), 2);
        QCOMPARE(m_->name(0), QString(15, QChar(0x5C71)));
        QVERIFY(m_->submit());
        QCOMPARE(storedName(QStringLiteral("100")), QString(15, QChar(0x5C71)));
    }

    void renameChecksTheNameFirst() {
        renameTransponder(QStringLiteral("3"), QStringLiteral("O'Hara"));
        QCOMPARE(storedName(QStringLiteral("3")), QStringLiteral("O'Hara"));
        QVERIFY_THROWS_EXCEPTION(
            RecordError, renameTransponder(QStringLiteral("3"), QString(31, QLatin1Char('a'))));
        QCOMPARE(storedName(QStringLiteral("3")), QStringLiteral("O'Hara"));
        renameTransponder(QStringLiteral("3"), QString());
        QCOMPARE(storedName(QStringLiteral("3")), QString());
        renameTransponder(QStringLiteral("nobody"), QStringLiteral("x")); // changes no row
        QCOMPARE(storedName(QStringLiteral("nobody")), QStringLiteral("<no row>"));
    }
};

QTEST_GUILESS_MAIN(tst_Registration)
#include "tst_registration.moc"
