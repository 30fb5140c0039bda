#include "sequence/SequenceRecord.h"

#include "files/NumberFormat.h"
#include "files/UtcTime.h"
#include "files/WholeFile.h"
#include "sequence/RecordJson.h"
#include "sequence/SequenceReport.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include <pwd.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

constexpr std::array<const char*, 4> Extensions{".jsonl", ".csv", ".json", ".html"};
// Serials and names are cut so that the stem and its extension stay within a file name's 255 bytes.
constexpr std::size_t MostSerial = 64, MostName = 120;

// ASCII letters and digits whatever the locale: a byte of a UTF-8 name is never kept.
std::string ForFileName(const std::string& text, std::size_t most)
{
  std::string safe = text.substr(0, most);
  for (char& c : safe)
    if (!(c >= 'a' && c <= 'z') && !(c >= 'A' && c <= 'Z') && !(c >= '0' && c <= '9') && c != '.' && c != '_' &&
        c != '-')
      c = '-';
  return safe;
}

std::string Home()
{
  const char* home = std::getenv("HOME");
  if (home && *home)
    return home;
  const passwd* user = ::getpwuid(::getuid()); // a service started without HOME
  return user ? user->pw_dir : "";
}

const char* StateText(TSample::TState state)
{
  static constexpr std::array<const char*, 3> Texts{"answered", "missing", "damaged"};
  return Texts[static_cast<std::size_t>(state)];
}

// A sample without a sound answer has only its time, controller, step and state.
std::string CsvRow(const TSample& sample)
{
  std::string row = FormatGeneral(sample.Seconds) + "," + std::to_string(sample.Address) + "," + sample.Step + "," +
                    StateText(sample.State);
  if (sample.State != TSample::TState::Answered)
    return row + ",,,,\n";
  return row + "," + FormatGeneral(sample.SpeedRpm) + "," + std::to_string(sample.Counter) + "," +
         (sample.Direction ? "backward" : "forward") + "," + (sample.Feedback ? "on" : "off") + "\n";
}

} // namespace

TSequenceRecord::TSequenceRecord(const std::string& folder, std::uint8_t address) : Folder(folder), Address(address)
{
  std::error_code error;
  fs::create_directories(folder, error);
  if (!error && !fs::is_directory(folder, error))
    error = std::make_error_code(std::errc::not_a_directory);
  if (!error && ::access(folder.c_str(), W_OK | X_OK) != 0)
    error.assign(errno, std::generic_category());
  if (error)
    throw std::runtime_error("Cannot write records to " + folder + ": " + error.message());
}

std::string TSequenceRecord::DefaultFolder()
{
  // A relative XDG_DATA_HOME is to be ignored, as the XDG base directories have it.
  const char* data = std::getenv("XDG_DATA_HOME");
  return (data && data[0] == '/' ? std::string(data) : Home() + "/.local/share") + "/ozmet/records";
}

void TSequenceRecord::RunBegun(const TRunResult& run)
{
  const TControllerResult unit = Controller(run);
  Claim(UtcStamp(run.Start) + "-" + (unit.Unit.empty() ? "no-serial" : ForFileName(unit.Unit, MostSerial)) + "-" +
        ForFileName(run.Name, MostName));
  if (Stem.empty())
    return;
  Remember(Rows.Write("time_s,address,step,state,speed_rpm,counter,direction,feedback\n"), ".csv");
  Remember(Rows.Sync(), ".csv");
  WriteLine(TRecordJson::RunLine(run, unit));
  if (!SyncFolder(LinesPath()))
    Remember(std::error_code(errno, std::generic_category()), ".jsonl");
}

void TSequenceRecord::Sample(const TSample& sample)
{
  if (sample.Address != Address)
    return;
  Samples.push_back(sample);
  Remember(Rows.Write(CsvRow(sample)), ".csv");
}

void TSequenceRecord::StepEnded(std::uint8_t address, const TStepResult& step)
{
  if (address != Address)
    return;
  WriteLine(TRecordJson::StepLine(address, step));
  Remember(Rows.Sync(), ".csv");
}

void TSequenceRecord::RunEnded(const TRunResult& run)
{
  const TControllerResult unit = Controller(run);
  WriteLine(TRecordJson::EndLine(run, unit));
  Remember(Lines.Close(), ".jsonl");
  Remember(Rows.Close(), ".csv");
  if (Stem.empty())
    return;
  Remember(WriteWholeFile(RecordPath(), TRecordJson::Whole(run, unit) + "\n"));
  Remember(WriteWholeFile(ReportPath(), TSequenceReport::Html(run, unit, Samples)));
}

TControllerResult TSequenceRecord::Controller(const TRunResult& run) const
{
  const auto found = std::find_if(run.Controllers.begin(), run.Controllers.end(),
                                  [&](const TControllerResult& controller) { return controller.Address == Address; });
  if (found != run.Controllers.end())
    return *found;
  TControllerResult unknown; // a controller the run does not name: its record has no serial and no steps
  unknown.Address = Address;
  return unknown;
}

std::string TSequenceRecord::Path(const char* extension) const
{
  return Stem.empty() ? "" : Stem + extension;
}

// The .jsonl made anew claims the stem: another run starting in the same second takes the next one.
void TSequenceRecord::Claim(const std::string& name)
{
  for (int n = 1;; ++n) {
    Stem = Folder + "/" + name + (n > 1 ? "-" + std::to_string(n) : "");
    if (Taken())
      continue;
    const std::error_code error = Lines.Create(LinesPath());
    if (error == std::errc::file_exists)
      continue;
    Remember(error, ".jsonl");
    if (error)
      Stem.clear();
    else
      Remember(Rows.Create(SamplesPath()), ".csv");
    return;
  }
}

bool TSequenceRecord::Taken() const
{
  return std::any_of(Extensions.begin(), Extensions.end(), [&](const char* extension) {
    std::error_code unknown;
    return fs::exists(Path(extension), unknown);
  });
}

void TSequenceRecord::WriteLine(const std::string& json)
{
  Remember(Lines.Write(json + "\n"), ".jsonl");
  Remember(Lines.Sync(), ".jsonl");
}

void TSequenceRecord::Remember(std::error_code error, const char* extension)
{
  if (error && FirstFailure.empty())
    FirstFailure = "Cannot write " + Path(extension) + ": " + error.message();
}

void TSequenceRecord::Remember(const std::optional<std::string>& failure)
{
  if (failure && FirstFailure.empty())
    FirstFailure = *failure;
}
