#include "DeviceList.h"

#include <QAction>
#include <QCollator>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QRegularExpression>
#include <QSerialPortInfo>

#include <algorithm>
#include <fcntl.h>
#include <unistd.h>

namespace {

// "usb-FTDI_FT232R_USB_UART_A600ABCD-if00-port0" -> "FTDI FT232R USB UART A600ABCD".
QString readableName(QString name) {
    static const QRegularExpression bus(QStringLiteral("^(usb|pci|platform)-"));
    static const QRegularExpression tail(QStringLiteral("(-if[0-9a-fA-F]+)?(-port[0-9]+)?$"));
    name.remove(bus);
    name.remove(tail);
    name.replace(QLatin1Char('_'), QLatin1Char(' '));
    return name.trimmed();
}

// What the system says of the adapter behind a ttyUSB or ttyACM device.
QString description(const QString& path) {
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        if (info.systemLocation() != path)
            continue;
        QStringList words;
        if (!info.manufacturer().isEmpty())
            words << info.manufacturer();
        if (!info.description().isEmpty() && info.description() != info.manufacturer())
            words << info.description();
        return words.join(QLatin1Char(' '));
    }
    return {};
}

QStringList devicesLike(const QDir& dir, const QString& pattern) {
    QStringList names = dir.entryList({pattern}, QDir::System | QDir::Files | QDir::NoDotAndDotDot);
    // ttyUSB2 before ttyUSB10.
    QCollator numeric;
    numeric.setNumericMode(true);
    std::sort(names.begin(), names.end(), numeric);
    return names;
}

} // namespace

QList<SerialDeviceEntry> listSerialDevices(const QString& devDir,
                                           const std::function<bool(const QString&)>& opens) {
    QList<SerialDeviceEntry> out;
    QStringList named; // devices a stable name already offers
    const QDir byId(QDir(devDir).filePath(QStringLiteral("serial/by-id")));
    for (const QString& name : devicesLike(byId, QStringLiteral("*"))) {
        const QString link = byId.filePath(name);
        const QString target = QFileInfo(link).canonicalFilePath();
        if (target.isEmpty())
            continue; // a link left behind by an adapter that is gone
        named << target;
        out.append({link, QStringLiteral("%1 (%2)").arg(readableName(name),
                                                        QFileInfo(target).fileName())});
    }
    const QDir dev(devDir);
    for (const QString& pattern :
         {QStringLiteral("ttyUSB*"), QStringLiteral("ttyACM*"), QStringLiteral("ttyS*")}) {
        const bool mustOpen = pattern.startsWith(QLatin1String("ttyS"));
        for (const QString& name : devicesLike(dev, pattern)) {
            const QString path = dev.filePath(name);
            if (named.contains(QFileInfo(path).canonicalFilePath()))
                continue;
            if (mustOpen && !(opens && opens(path)))
                continue;
            const QString about = mustOpen ? QString() : description(path);
            out.append({path, about.isEmpty() ? path : QStringLiteral("%1 (%2)").arg(path, about)});
        }
    }
    return out;
}

bool serialDeviceOpens(const QString& path) {
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

DevicePicker::DevicePicker(QObject* parent) : QObject(parent) {
    setObjectName(QStringLiteral("DevicePicker"));
    choose = [](QWidget* anchor, const QList<SerialDeviceEntry>& devices, const QString& current) {
        QMenu menu(anchor);
        for (const SerialDeviceEntry& d : devices) {
            QAction* a = menu.addAction(d.label);
            a->setData(d.path);
            a->setCheckable(true);
            a->setChecked(d.path == current);
        }
        if (devices.isEmpty())
            menu.addAction(tr("シリアルデバイスが見つかりません"))->setEnabled(false);
        const QAction* chosen = menu.exec(anchor->mapToGlobal(QPoint(0, anchor->height())));
        return chosen ? chosen->data().toString() : QString();
    };
}

QString DevicePicker::pick(QWidget* anchor, const QString& current) {
    return choose(anchor, listSerialDevices(devDir, serialDeviceOpens), current);
}
