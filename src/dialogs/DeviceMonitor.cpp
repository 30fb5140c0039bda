#include "dialogs/DeviceMonitor.h"

#include <QSocketNotifier>

#include <libudev.h>

TDeviceMonitor::TDeviceMonitor(QObject* parent) : QObject(parent), Udev(udev_new())
{
  if (!Udev)
    return;
  Monitor = udev_monitor_new_from_netlink(Udev, "udev");
  if (!Monitor || udev_monitor_filter_add_match_subsystem_devtype(Monitor, "tty", nullptr) < 0 ||
      udev_monitor_enable_receiving(Monitor) < 0) {
    if (Monitor)
      udev_monitor_unref(Monitor);
    Monitor = nullptr;
    return;
  }
  Notifier = new QSocketNotifier(udev_monitor_get_fd(Monitor), QSocketNotifier::Read, this);
  connect(Notifier, &QSocketNotifier::activated, this, &TDeviceMonitor::ReadEvents);
}

TDeviceMonitor::~TDeviceMonitor()
{
  delete Notifier; // before the socket it watches goes
  if (Monitor)
    udev_monitor_unref(Monitor);
  if (Udev)
    udev_unref(Udev);
}

void TDeviceMonitor::ReadEvents()
{
  // Everything queued: one wake-up may carry several events (a USB adapter brings its tty and more).
  while (udev_device* device = udev_monitor_receive_device(Monitor)) {
    const char* action = udev_device_get_action(device);
    const char* node = udev_device_get_devnode(device);
    emit DeviceChanged(QString::fromUtf8(action ? action : ""), QString::fromUtf8(node ? node : ""));
    udev_device_unref(device);
  }
}
