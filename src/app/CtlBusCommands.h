#pragma once

#include "CtlCommand.h"

#include <chrono>
#include <cstdint>

class TCtlOptions;
class TCtlOutput;
class TCtlSession;

// The commands of the whole bus: scan, which asks every address, and set-address, which gives the
// controller whose button is pressed a new one through the broadcast procedure.
class TCtlBusCommands : public TCtlCommand {
public:
  TCtlBusCommands(const TCtlOptions& options, TCtlOutput& output, TCtlSession& session);

  void Prepare() override;
  void Execute() override;

private:
  void Scan();
  void SetAddress();

  const TCtlOptions& Options;
  TCtlOutput& Output;
  TCtlSession& Session;
  std::int32_t From = 0;
  std::int32_t To = 0;
  std::chrono::milliseconds Timeout{0};
  std::uint8_t NewAddress = 0;
  std::int32_t Wait = -1; // seconds; -1: until Enter
};
