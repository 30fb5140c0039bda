#pragma once

#include <QObject>

struct udev;
struct udev_monitor;
class QSocketNotifier;

// Tells when a serial device comes or goes: a udev monitor on the tty subsystem, read when its
// socket has something, so nothing runs while nothing changes. Without udev it stays silent.
class TDeviceMonitor : public QObject {
  Q_OBJECT
public:
  explicit TDeviceMonitor(QObject* parent = nullptr);
  ~TDeviceMonitor() override;
  TDeviceMonitor(const TDeviceMonitor&) = delete;
  TDeviceMonitor& operator=(const TDeviceMonitor&) = delete;

signals:
  // action is "add", "remove", "change" and the like; node the device's /dev path.
  void DeviceChanged(const QString& action, const QString& node);

private:
  void ReadEvents();

  udev* Udev = nullptr;
  udev_monitor* Monitor = nullptr;
  QSocketNotifier* Notifier = nullptr;
};
