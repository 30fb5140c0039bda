#pragma once

#include <QWidget>

#include <string>

class QLineEdit;
class QSpinBox;
class QTableWidget;
class TDeviceMonitor;
class TDialogHost;

// "Serial devices": every serial device on the machine and every port number linked to a device,
// kept up to date as devices come and go. The operator picks a device (or types a serial device
// server's address) and a port number and assigns it, or removes a port's link. Not modal; closing hides it.
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
  std::string ChosenDevice() const;
  // What an action said went wrong, if anything, in a message box.
  void Report(const std::string& problem);

  TDialogHost& Main;
  QTableWidget* TableDevices = nullptr;
  QTableWidget* TablePorts = nullptr;
  QSpinBox* SpinPortNumber = nullptr;
  QLineEdit* EditNetworkLine = nullptr;
  TDeviceMonitor* Monitor = nullptr;
};
