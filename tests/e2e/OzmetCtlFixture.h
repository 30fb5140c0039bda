#pragma once

#include "ChildProcess.h"
#include "LoopbackPeer.h"
#include "PtyClient.h"
#include "Ser2net.h"
#include "TempDir.h"
#include "bus/BusListFile.h"
#include "protocol/OzmCommands.h"
#include "serial/PortSettingsFile.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
// g++ 12 with AddressSanitizer sees an uninitialised std::function inside std::regex: a false alarm.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <regex>
#include <set>
#include <sstream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// ozmetctl's end-to-end tests share this: the frames as the simulator logs them, and ozmetctl in a
// folder of its own beside the simulator.

using namespace std::chrono_literals;
using TBytes = TPtyClient::TBytes;

inline const std::string Never(1, '\0'); // never written: waiting for it reads a stream to its end

inline TBytes Status(std::uint8_t address)
{
  const TStatusRequest request = TOzmCommands::StatusRequestFor(address);
  return {request.begin(), request.end()};
}

inline TBytes Command(std::uint8_t address, std::uint8_t command, std::uint8_t value)
{
  return {FrameMarker, address, command, value, TOzmCommands::Crc8(3, address, command, value)};
}

// A command that no controller knows, to everyone: the test's own frame that closes a run's frames.
inline TBytes Sentinel()
{
  return Command(BroadcastAddress, 0x00, 0x5A);
}

// As the simulator logs a frame: "E6 00 50 DB".
inline std::string Hex(const TBytes& frame)
{
  std::string text;
  for (std::uint8_t byte : frame)
    text.append(text.empty() ? "" : " ").append(TOzmCommands::HexByte(byte));
  return text;
}

inline std::vector<std::string> Lines(const std::string& text)
{
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);)
    lines.push_back(line);
  return lines;
}

// A light check that a line is one flat JSON object of the shape ozmetctl writes.
inline bool IsJsonObject(const std::string& line)
{
  static const std::regex Shape(
      R"(\{"kind":"[a-z-]+","time":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z")"
      R"((,"[a-z_]+":(-?[0-9][0-9.e+-]*|true|false|"([^"\\]|\\.)*"|\[(\d+(,\d+)*)?\]))*\})");
  return std::regex_match(line, Shape);
}

inline constexpr const char* ParameterFile = "# Ozmet console parameters\n"
                                      "[motor]\naddress=$07\nencoder=2\nmax_speed=4000\nratio=2\n"
                                      "[operation]\nspeed=300\nacceleration=12\ndeceleration=6\n"
                                      "direction=backward\nmotion=continuous\ntime=\n";

// Test sequences of controller 0: short.yaml runs it and stops it at once; hold.yaml checks it
// reaches 600 rpm, holds it there a second and stops; long.yaml holds it a minute; bad.yaml asks a
// speed that the operation panel refuses.
inline constexpr const char* SequenceMotor = "controllers: 0\nmotor: {encoder: 2, max-speed: 3000, ratio: 1}\n";
inline const std::map<std::string, std::string> SequenceFiles = {
    {"short.yaml", "name: Short\n" + std::string(SequenceMotor) +
                       "steps:\n  - run: {speed: 600, acceleration: 24, deceleration: 24}\n  - stop\n"},
    {"hold.yaml", "name: Held\n" + std::string(SequenceMotor) +
                      "steps:\n"
                      "  - run: {speed: 600, acceleration: 24, deceleration: 24, checks: [reach: {within: 2}]}\n"
                      "  - hold: {seconds: 1, checks: [speed: {tolerance: 3%, settle: 0.5, name: speed held}]}\n"
                      "  - stop: {checks: [standstill: {within: 2}]}\n"},
    {"long.yaml", "name: Long\n" + std::string(SequenceMotor) +
                      "steps:\n  - run: {speed: 600, acceleration: 24, deceleration: 24}\n"
                      "  - hold: {seconds: 60, checks: [speed: {tolerance: 3%, settle: 0.5}]}\n  - stop\n"},
    {"bad.yaml", "name: Bad\n" + std::string(SequenceMotor) + "steps:\n  - run: {speed: 20000}\n"},
};

// ozmetctl in a folder of its own: its Data folder keeps port 1, linked to the simulator, and a COM5
// that leads nowhere; beside it a parameter file for a motor at address 7, and the test sequences.
class OzmetCtl : public ::testing::Test {
protected:
  void SetUp() override
  {
    std::filesystem::copy_file(OZMETCTL_PATH, Program);
    std::filesystem::create_directory(Data);
    ASSERT_TRUE(TPortSettingsFile(Data + "/portp.dat").Save(1));
    std::filesystem::create_symlink("/nonexistent/ttyUSB9", Data + "/COM5");
    std::ofstream(Parameters) << ParameterFile;
    for (const auto& [name, text] : SequenceFiles)
      std::ofstream(Folder.Path() + "/" + name) << text;
  }

  void StartSim(std::vector<std::string> arguments)
  {
    arguments.insert(arguments.end(), {"--verbose", "--link", Data + "/COM1"});
    Sim = std::make_unique<TChildProcess>(OZMET_SIM_PATH, arguments);
    Device = Sim->FirstLine();
    ASSERT_FALSE(Device.empty()) << Sim->Stderr();
  }

  // environment: NAME=VALUE entries for ozmetctl alone.
  std::unique_ptr<TChildProcess> Ctl(std::vector<std::string> arguments,
                                     const std::vector<std::string>& environment = {})
  {
    for (std::string& argument : arguments) {
      argument = argument == "{device}" ? Device : argument == "{file}" ? Parameters : argument;
      if (argument.starts_with("{folder}"))
        argument.replace(0, 8, Folder.Path());
    }
    return std::make_unique<TChildProcess>(Program, arguments, environment);
  }

  // Every frame the simulator received until now: the test's sentinel frame comes after them all.
  std::vector<std::string> FramesReceived()
  {
    TPtyClient client(Device);
    EXPECT_TRUE(client.Write(Sentinel()));
    const std::string sentinel = "rx " + Hex(Sentinel());
    EXPECT_TRUE(Sim->WaitForOutput(1, sentinel));
    std::vector<std::string> frames;
    for (const std::string& line : Lines(Sim->Stderr().substr(0, Sim->Stderr().find(sentinel))))
      if (const auto at = line.find(" rx "); at != std::string::npos)
        frames.push_back(line.substr(at + 4));
    return frames;
  }

  // Where ozmetctl and the window keep the simulator's line's bus list.
  std::string BusListPath() const
  {
    return TBusListFile(Data, Device).Path();
  }

  // Each unit's whole record (.json) of the test run with --record {folder}/records, by its file's
  // name; none without one. A record that its published schema refuses fails the test.
  std::map<std::string, std::string> RecordsWritten() const
  {
    std::map<std::string, std::string> records;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(Folder.Path() + "/records", error))
      if (entry.path().extension() == ".json") {
        const std::string validate = "python3 -c 'import json, jsonschema, sys; jsonschema.validate(json.load(open("
                                     "sys.argv[1])), json.load(open(sys.argv[2])))' '" +
                                     entry.path().string() + "' " OZMET_SOURCE_DIR "/dist/sequence-record.schema.json";
        EXPECT_EQ(std::system(validate.c_str()), 0) << entry.path();
        std::ifstream file(entry.path());
        records[entry.path().filename()] = {std::istreambuf_iterator<char>(file), {}};
      }
    return records;
  }

  // Every unit's whole record, one after the other.
  std::string RecordWritten() const
  {
    std::string all;
    for (const auto& [name, record] : RecordsWritten())
      all += record;
    return all;
  }

  void KeepBusList(const std::string& text) const
  {
    std::filesystem::create_directories(Data + "/bus");
    std::ofstream(BusListPath()) << text;
  }

  TTempDir Folder;
  const std::string Program = Folder.Path() + "/ozmetctl";
  const std::string Data = Folder.Path() + "/Data";
  const std::string Parameters = Folder.Path() + "/motor.ini";
  std::unique_ptr<TChildProcess> Sim;
  std::string Device;
};


// The two-digit code of each frame the simulator received, in order.
inline std::vector<std::string> Codes(const std::vector<std::string>& frames)
{
  std::vector<std::string> codes;
  for (const std::string& frame : frames)
    codes.push_back(frame.substr(6, 2));
  return codes;
}

inline bool StopFollowsRun(const std::vector<std::string>& codes)
{
  const auto run = std::find(codes.begin(), codes.end(), "51");
  return run != codes.end() && std::find(run, codes.end(), "52") != codes.end();
}

// Every controller that a Run went to got a Stop after its last Run: frames as the simulator logs them.
inline bool EveryRunStopped(const std::vector<std::string>& frames)
{
  std::map<std::string, bool> running; // by the address's two digits
  for (const std::string& frame : frames) {
    const std::string address = frame.substr(3, 2), code = frame.substr(6, 2);
    if (code == "51" || code == "52")
      running[address] = code == "51";
  }
  return std::none_of(running.begin(), running.end(), [](const auto& unit) { return unit.second; });
}

// The addresses of the status objects among JSON lines.
inline std::set<int> StatusAddresses(const std::string& output)
{
  std::set<int> found;
  static const std::regex Address(R"(^\{"kind":"status",.*"address":(\d+),)");
  for (const std::string& line : Lines(output))
    if (std::smatch match; std::regex_search(line, match, Address))
      found.insert(std::stoi(match[1]));
  return found;
}
