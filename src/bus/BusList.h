#pragma once

#include "bus/BusController.h"

#include <cstdint>
#include <string>
#include <vector>

// The controllers of one line in the operator's order, each address once: what the bus view shows,
// what the poll visits in turn and what Stop all stops. Kept in a small text file per line, one
// controller a line: "5<TAB>conveyor left".
class TBusList {
public:
  // Appended at the end unless listed already; true when it was added.
  bool Add(std::uint8_t address, const std::string& label = {});
  bool Remove(std::uint8_t address);
  TBusController* Find(std::uint8_t address);
  const std::vector<TBusController>& Controllers() const { return List; }
  std::vector<TBusController>& Controllers() { return List; }
  std::vector<std::uint8_t> Addresses() const;
  bool Empty() const { return List.empty(); }
  std::size_t Size() const { return List.size(); }

  std::string Text() const;
  // Lines may end in CR and blanks (a file written on another system); comments ("#") and empty lines are
  // skipped, and so are lines that are no "ADDRESS[<TAB>LABEL]" (a hand edit gone wrong), each said in Skipped.
  static TBusList FromText(const std::string& text);
  // "line 3: \"x5\" is no address", for each line of the text read that named no controller.
  const std::vector<std::string>& Skipped() const { return Unread; }

private:
  std::vector<TBusController> List;
  std::vector<std::string> Unread;
};
