#include <QTest>
class Tstredit : public QObject { Q_OBJECT };
QTEST_MAIN(Tstredit)
#include "tst_redit.moc"
