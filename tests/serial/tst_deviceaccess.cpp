// The hint shown when a serial device may not be opened for lack of
// permission: it must name the device's group and the command that helps,
// and say nothing for any other failure.

#include "DeviceAccess.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

class TestDeviceAccess : public QObject {
    Q_OBJECT
private slots:
    void hintNamesTheOwningGroupOnlyForPermissionDenied();
    void accessErrorIsPermissionOnly();
};

void TestDeviceAccess::hintNamesTheOwningGroupOnlyForPermissionDenied() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString device = dir.filePath(QStringLiteral("ttyUSB0"));
    QFile f(device);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    const QByteArray native = device.toLocal8Bit();

    // Root may give the file to dialout, as udev does; anyone else gives it
    // to a group of their own.
    const group* dialout = getgrnam("dialout");
    const gid_t gid = geteuid() == 0 && dialout ? dialout->gr_gid : getegid();
    if (gid == 0)
        QSKIP("no group other than root to give the device to");
    const QString name = QString::fromLocal8Bit(getgrgid(gid)->gr_name);
    QCOMPARE(chown(native.constData(), uid_t(-1), gid), 0);
    QCOMPARE(chmod(native.constData(), 0660), 0);

    const QString hint = devicePermissionHint(device, EACCES);
    QVERIFY2(hint.contains(QStringLiteral("グループ ") + name), qPrintable(hint));
    QVERIFY2(hint.contains(QStringLiteral("sudo usermod -aG ") + name + QStringLiteral(" $USER")),
             qPrintable(hint));
    QVERIFY(hint.contains(QStringLiteral("ログインし直")));

    for (int other : {0, ENOENT, EBUSY, ENOTTY, EIO})
        QVERIFY2(devicePermissionHint(device, other).isEmpty(), qPrintable(qt_error_string(other)));

    // A group that may not read and write the device (or root's own group)
    // is not worth joining: no command is offered then.
    QCOMPARE(chmod(native.constData(), 0600), 0);
    const QString noGroup = devicePermissionHint(device, EACCES);
    QVERIFY(!noGroup.isEmpty());
    QVERIFY2(!noGroup.contains(QStringLiteral("usermod")), qPrintable(noGroup));
}

void TestDeviceAccess::accessErrorIsPermissionOnly() {
    QTemporaryDir dir;
    const QString device = dir.filePath(QStringLiteral("ttyS0"));
    QCOMPARE(deviceAccessError(device), 0); // missing: the open says so itself
    QCOMPARE(deviceAccessHint(device), QString());
    QFile f(device);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    QCOMPARE(deviceAccessError(device), 0);
    QCOMPARE(chmod(device.toLocal8Bit().constData(), 0), 0);
    // Root passes every permission check, as its open would.
    QCOMPARE(deviceAccessError(device), geteuid() == 0 ? 0 : EACCES);
    if (geteuid() != 0)
        QVERIFY(!deviceAccessHint(device).isEmpty());
}

QTEST_GUILESS_MAIN(TestDeviceAccess)
#include "tst_deviceaccess.moc"
