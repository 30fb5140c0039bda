#pragma once

// One command of ozmetctl in two steps: every value is checked before anything opens, so a refused
// command line (or script line) never sends a frame; then it is carried out.
class TCtlCommand {
public:
  virtual ~TCtlCommand() = default;
  // Throws TCtlError for a refused value. Opens nothing, sends nothing.
  virtual void Prepare() = 0;
  // Throws TCtlError or TLineError when the command cannot be carried out.
  virtual void Execute() = 0;
};
