#include "app/CtlScript.h"

#include "app/CtlCommands.h"
#include "app/CtlError.h"
#include "app/CtlInterrupt.h"
#include "app/CtlOptions.h"
#include "app/CtlOutput.h"
#include "serial/LineError.h"

#include <fstream>
#include <iostream>

TCtlScript::TCtlScript(const TCtlOptions& options, TCtlOutput& output, TCtlSession& session)
    : Options(options), Output(output), Session(session)
{
}

TCtlScript::~TCtlScript() = default;

std::vector<std::string> TCtlScript::Words(const std::string& line)
{
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  char quote = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quote && c == quote) {
      quote = 0;
    } else if (quote == '"' && c == '\\' && i + 1 < line.size() && (line[i + 1] == '"' || line[i + 1] == '\\')) {
      word += line[++i];
    } else if (quote) {
      word += c;
    } else if (c == ' ' || c == '\t' || c == '\r') {
      if (inWord)
        words.push_back(std::move(word));
      word.clear();
      inWord = false;
      continue;
    } else if (c == '#' && !inWord) {
      break;
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == '\\' && i + 1 < line.size()) {
      word += line[++i];
    } else {
      word += c;
    }
    inWord = true;
  }
  if (quote)
    throw TCtlError(TCtlError::Usage, std::string("a quote (") + quote + ") is not closed", false);
  if (inWord)
    words.push_back(std::move(word));
  return words;
}

std::string TCtlScript::Where(int number) const
{
  return Options.Operand + " line " + std::to_string(number) + ": ";
}

// Read whole before anything is sent: a refused line further down must not leave the lines above it
// carried out, a Run among them.
void TCtlScript::Prepare()
{
  std::ifstream file;
  if (Options.Operand != "-") {
    file.open(Options.Operand);
    if (!file)
      throw TCtlError(TCtlError::Usage, "script: " + Options.Operand + " cannot be read", false);
  }
  std::istream& input = Options.Operand == "-" ? std::cin : file;
  int number = 1;
  for (std::string text; std::getline(input, text); ++number) {
    try {
      PrepareLine(number, Words(text));
    } catch (const std::runtime_error& error) { // TCtlError, or TLineError for a device named
      throw TCtlError(TCtlError::Usage, Where(number) + error.what(), false);
    }
  }
}

void TCtlScript::PrepareLine(int number, const std::vector<std::string>& words)
{
  if (words.empty())
    return;
  std::vector<const char*> argv{"ozmetctl"};
  for (const std::string& word : words)
    argv.push_back(word.c_str());
  auto options = std::make_unique<TCtlOptions>(TCtlOptions::Parse(static_cast<int>(argv.size()), argv.data()));
  options->InheritLine(Options);
  auto command = std::make_unique<TCtlCommands>(*options, Output, Session, true);
  command->Prepare();
  Lines.push_back({number, std::move(options), std::move(command)});
}

void TCtlScript::Execute()
{
  int firstFailure = 0, failedLine = 0;
  for (TLine& line : Lines) {
    if (TCtlInterrupt::Requested())
      break;
    const int status = RunLine(line);
    if (status && !firstFailure) {
      firstFailure = status;
      failedLine = line.Number;
    }
    if (status && !Options.Has("keep-going"))
      break;
  }
  if (TCtlInterrupt::Requested())
    throw TCtlInterrupt::Error("the script was cut short");
  if (firstFailure)
    throw TCtlError(firstFailure, "the script failed first at its line " + std::to_string(failedLine), false);
}

int TCtlScript::RunLine(TLine& line)
{
  try {
    line.Command->Run();
    return 0;
  } catch (const TCtlError& error) {
    Output.Failure(Where(line.Number) + error.what(), error.ExitStatus, error.Address);
    return error.ExitStatus;
  } catch (const TLineError& error) {
    if (error.Kind == TLineError::TKind::LineFailed)
      throw;
    Output.Failure(Where(line.Number) + error.what(), TCtlError::PortClosed);
    return TCtlError::PortClosed;
  }
}
