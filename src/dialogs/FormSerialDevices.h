#pragma once

#include <QWidget>

class QSpinBox;
class QTableWidget;
class TDeviceMonitor;
class TDialogHost;

// "Serial devices": every serial device on the machine and every port number linked to a device,
// kept up to date as devices come and go. The operator picks a device and a port number and
// assigns it, or removes a port's link. Not modal; closing hides it.
class TFormSerialDevices : public QWidget {
  Q_OBJECT
public:
  explicit TFormSerialDevices(TDialogHost& main);

  // Reads the devices and the links anew.
  void Refresh();
  void BtnAssignClick();
  void BtnRemoveLinkClick();

protected:
  void showEvent(QShowEvent* event) override;

private:
  void FillDevices();
  void FillPorts();
  void WidenToFit();
  // What an action said went wrong, if anything, in a message box.
  void Report(const std::string& problem);

  TDialogHost& Main;
  QTableWidget* TableDevices = nullptr;
  QTableWidget* TablePorts = nullptr;
  QSpinBox* SpinPortNumber = nullptr;
  TDeviceMonitor* Monitor = nullptr;
};
