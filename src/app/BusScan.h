#pragma once

#include "CommonDatas.h"
#include "ConsoleForms.h"

#include <chrono>
#include <cstdint>

class TCtlLine;
class TCtlOutput;

// Finds the controllers on a line: a status request to every address in turn, each given a short
// time to answer. Those answering soundly are told with their state as they are found; an answer
// with a bad checksum is mentioned but not listed.
class TBusScan {
public:
  TBusScan(TCtlLine& line, TCtlOutput& output);

  // Returns how many controllers answered. An interrupt ends the scan at the next address.
  int Run(std::uint8_t from, std::uint8_t to, std::chrono::milliseconds timeout, const TMotorFields& motor);

private:
  void Found(std::uint8_t address, const TFrame& answer, TMotorFields motor);

  TCtlLine& Line;
  TCtlOutput& Output;
};
