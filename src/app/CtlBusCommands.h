#pragma once

#include "app/CtlCommand.h"
#include "bus/BusListFile.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <set>

class TCtlOptions;
class TCtlOutput;
class TCtlSession;

// The commands of the whole bus: scan, which asks every address (and with --save keeps those that
// answered as the line's bus list), and set-address, which gives the controller whose button is
// pressed a new one through the broadcast procedure.
class TCtlBusCommands : public TCtlCommand {
public:
  TCtlBusCommands(const TCtlOptions& options, TCtlOutput& output, TCtlSession& session);

  void Prepare() override;
  void PrepareLine(const std::string& line) override;
  void Execute() override;

private:
  void Scan();
  // The controllers that answered, in address order, each with the label the list gave it before.
  // Returns where the list was saved; throws TCtlError when it could not be.
  std::string Save(const std::set<std::uint8_t>& found) const;
  void SetAddress();

  const TCtlOptions& Options;
  TCtlOutput& Output;
  TCtlSession& Session;
  std::int32_t From = 0;
  std::int32_t To = 0;
  std::chrono::milliseconds Timeout{0};
  std::uint8_t NewAddress = 0;
  std::int32_t Wait = -1; // seconds; -1: until Enter
  std::optional<TBusListFile> ListFile; // with --save
};
