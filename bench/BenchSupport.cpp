#include "BenchSupport.h"

#include "BenchFolder.h"
#include "ChildProcess.h"
#include "ProcStatus.h"
#include "console/Form1.h"
#include "serial/ComPort.h"
#include "serial/Exchange.h"
#include "serial/Synchronizer.h"
#include "widgets/MessageBox.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <sys/resource.h>

namespace {

double Seconds(const timeval& t)
{
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

std::vector<TBenchClock::time_point> RecordedSince(const TSimLine& sim, TSimTraffic::TDirection direction,
                                                  TBenchClock::time_point from, std::optional<std::uint8_t> command)
{
  std::vector<TBenchClock::time_point> times;
  for (const TSimTraffic& t : sim.Traffic())
    if (t.Direction == direction && t.Time >= from && (!command || (t.Bytes.size() > 2 && t.Bytes[2] == *command)))
      times.push_back(t.Time);
  return times;
}

} // namespace

double MsBetween(TBenchClock::time_point from, TBenchClock::time_point to)
{
  return std::chrono::duration<double, std::milli>(to - from).count();
}

TSummary Summarise(std::vector<double> values)
{
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
  return {median, values.back()};
}

double ProcessCpuSeconds()
{
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

std::set<int> ThreadIds()
{
  std::set<int> ids;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
    ids.insert(std::stoi(entry.path().filename().string()));
  return ids;
}

long ThreadVoluntarySwitches(int tid)
{
  return StatusField("/proc/self/task/" + std::to_string(tid) + "/status", "voluntary_ctxt_switches:");
}

long ArgumentOr(int argc, char** argv, int index, long fallback, const char* usage, long minimum)
{
  if (argc <= index)
    return fallback;
  char* end = nullptr;
  const long value = std::strtol(argv[index], &end, 10);
  if (*argv[index] == '\0' || *end != '\0' || value < minimum) {
    std::fprintf(stderr, "usage: %s %s\n", argv[0], usage);
    std::exit(2);
  }
  return value;
}

std::string ProgramBeside(const char* name)
{
  return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / name).string();
}

double WireMs(double bytes, double baud)
{
  return bytes * 10.0 * 1000.0 / baud;
}

std::vector<TBenchClock::time_point> TrafficSince(const TSimLine& sim, TSimTraffic::TDirection direction,
                                                 TBenchClock::time_point from, std::size_t count,
                                                 std::optional<std::uint8_t> command)
{
  const auto deadline = TBenchClock::now() + std::chrono::seconds(1);
  for (;;) {
    std::vector<TBenchClock::time_point> times = RecordedSince(sim, direction, from, command);
    if (times.size() >= count)
      return times;
    if (TBenchClock::now() > deadline)
      throw std::runtime_error("the simulator did not record the traffic of the action");
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

std::unique_ptr<TChildProcess> StartSimProcess(const TBenchFolder& folder, const std::vector<std::string>& options)
{
  std::vector<std::string> arguments{"--no-input", "--link", folder.PortLink()};
  arguments.insert(arguments.end(), options.begin(), options.end());
  auto sim = std::make_unique<TChildProcess>(ProgramBeside("ozmet-sim"), arguments);
  if (sim->FirstLine().empty()) // its device path: the line and the link are ready
    throw std::runtime_error("the simulator did not start");
  return sim;
}

std::unique_ptr<TForm1> OpenConsole(const TBenchFolder& folder)
{
  SetMessageRecorder([](const std::string& text) { std::fprintf(stderr, "message box: %s\n", text.c_str()); });
  auto form = std::make_unique<TForm1>(folder.DataPath());
  form->show();
  if (!form->ComPort->IsOpen())
    throw std::runtime_error("the port did not open: " + folder.PortLink());
  return form;
}

std::unique_ptr<TForm1> OpenConsoleOn(TSimLine& sim, const TBenchFolder& folder)
{
  sim.Open();
  folder.LinkPort(sim.DevicePath());
  return OpenConsole(folder);
}

bool WaitForExchangeEnd(TForm1& form)
{
  const auto deadline = TSynchronizer::TClock::now() + std::chrono::seconds(5);
  return TSynchronizer::Instance().WaitUntil(deadline, [&] { return !form.Exchange->WorkerRunning(); });
}

void EndExchange(TForm1& form)
{
  if (!WaitForExchangeEnd(form))
    throw std::runtime_error("the exchange did not end");
  form.DisablePollTimer();
  QCoreApplication::processEvents();
}

void RunEventLoopFor(std::chrono::milliseconds span)
{
  QEventLoop loop;
  // Precise: Qt makes a single shot of 2 s or more coarse, and a coarse one may end 5 % early.
  QTimer::singleShot(span, Qt::PreciseTimer, &loop, &QEventLoop::quit);
  loop.exec();
}

const char* Verdict(bool met)
{
  return met ? "meets" : "MISSES";
}

int RunCatching(int (*body)(int, char**), int argc, char** argv)
{
  try {
    return body(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s: %s\n", argv[0], error.what());
    return 3;
  }
}
