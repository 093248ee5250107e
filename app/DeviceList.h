#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <functional>

// A serial device the settings page offers for a port.
struct SerialDeviceEntry {
    QString path;  // what goes into section Devices
    QString label; // what the operator reads
};

// The serial devices present under devDir: first the stable names of
// serial/by-id (an adapter keeps its name whatever number it gets), then
// the ttyUSB, ttyACM and ttyS devices not already named so. A ttyS device is
// offered only when `opens` says it does: most of them are there whether or
// not a port stands behind them.
QList<SerialDeviceEntry> listSerialDevices(const QString& devDir,
                                           const std::function<bool(const QString&)>& opens);

// Whether the device opens for reading and writing (without waiting for a
// carrier and without becoming the controlling terminal).
bool serialDeviceOpens(const QString& path);

class QWidget;

// The settings page's device picker: the devices present, one to choose.
class DevicePicker : public QObject {
    Q_OBJECT
public:
    explicit DevicePicker(QObject* parent = nullptr);

    // The chosen device's path; empty when the operator chose nothing.
    QString pick(QWidget* anchor, const QString& current);

    // Shows the list and answers with a path or nothing; by default a menu
    // under the anchor. Tests answer it themselves.
    std::function<QString(QWidget* anchor, const QList<SerialDeviceEntry>& devices,
                          const QString& current)>
        choose;
    QString devDir = QStringLiteral("/dev");
};
