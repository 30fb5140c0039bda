#pragma once

#include "app/CtlCommand.h"

#include <memory>
#include <string>
#include <vector>

class TCtlCommands;
class TCtlOptions;
class TCtlOutput;
class TCtlSession;

// script: each line as if ozmetctl were run with it, on the one line that the script's own options
// open. The whole script is read and every line checked before anything is sent.
class TCtlScript : public TCtlCommand {
public:
  TCtlScript(const TCtlOptions& options, TCtlOutput& output, TCtlSession& session);
  ~TCtlScript() override;

  void Prepare() override;
  void Execute() override;

  // A line in words, as a shell parts them: blanks between words, '...' and "..." keep blanks, a
  // backslash keeps the next character, # begins a comment. Throws a usage TCtlError on an open quote.
  static std::vector<std::string> Words(const std::string& line);

private:
  struct TLine {
    int Number;
    std::unique_ptr<TCtlOptions> Options;
    std::unique_ptr<TCtlCommands> Command;
  };

  std::string Where(int number) const;
  void PrepareLine(int number, const std::vector<std::string>& words);
  // The status of the line: 0 done, else its failure's, which is said.
  int RunLine(TLine& line);

  const TCtlOptions& Options;
  TCtlOutput& Output;
  TCtlSession& Session;
  std::vector<TLine> Lines;
};
