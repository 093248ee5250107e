#include <QTest>
class Tstspin : public QObject { Q_OBJECT };
QTEST_MAIN(Tstspin)
#include "tst_spin.moc"
