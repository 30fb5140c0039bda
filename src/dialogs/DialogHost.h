#pragma once

#include "protocol/ConsoleView.h"

#include <cstdint>

class QWidget;
class TComPort;
class TCommonDatas;
class TLangs;

// What the dialogs need of the main window, so that they never include it: the window they
// belong to, the shared objects, the port buttons' handlers and the few actions they start.
// Every call runs on the window's thread.
class TDialogHost : public TConsoleView {
public:
  // The dialogs' parent, and the window whose captions the text table writes.
  virtual QWidget& Window() = 0;
  virtual TComPort& Port() = 0;
  virtual TCommonDatas& Record() = 0;
  virtual const TLangs& Texts() const = 0;

  virtual void BtnOpenPortClick() = 0;
  virtual void BtnClosePortClick() = 0;
  // Polling or an exchange is using the line.
  virtual bool DataTransferring() const = 0;
  // One broadcast frame alone: the send memo and the command queue emptied, the frame queued and
  // the exchange started.
  virtual void SendBroadcast(std::uint8_t command, std::uint8_t value) = 0;
  // An address found on the line goes into the motor panel as if typed: the panel turns edited.
  virtual void UseAddress(std::uint8_t address) = 0;
};
