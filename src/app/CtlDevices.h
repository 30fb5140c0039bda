#pragma once

#include "app/CtlCommand.h"

class TCtlOutput;

// devices: the USB serial adapters present, from udev; it opens no line.
class TCtlDevices : public TCtlCommand {
public:
  explicit TCtlDevices(TCtlOutput& output) : Output(output) {}

  void Prepare() override {}
  void Execute() override;

private:
  TCtlOutput& Output;
};
