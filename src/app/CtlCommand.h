#pragma once

#include <string>

// One command of ozmetctl in two steps: every value is checked before anything opens, so a refused
// command line (or script line) never sends a frame; then it is carried out.
class TCtlCommand {
public:
  virtual ~TCtlCommand() = default;
  // Throws TCtlError for a refused value. Opens nothing, sends nothing.
  virtual void Prepare() = 0;
  // After Prepare, once the line is named (the device behind the links, or the URL): what is kept
  // for that line is read here, still before anything opens.
  virtual void PrepareLine(const std::string& /*line*/) {}
  // Throws TCtlError or TLineError when the command cannot be carried out.
  virtual void Execute() = 0;
};
