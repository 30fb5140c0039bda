#pragma once

// What the benchmarks share: the process's own costs from /proc and getrusage, a series of timings
// summed up, the line's floors, the simulator's traffic, and the console started and waited for.

#include "ProcStatus.h"
#include "SimLine.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

class TBenchFolder;
class TChildProcess;
class TForm1;

using TBenchClock = std::chrono::steady_clock;

// Milliseconds from one instant to a later one.
double MsBetween(TBenchClock::time_point from, TBenchClock::time_point to);

struct TSummary {
  double Median = 0;
  double Worst = 0;
};
// The median and the largest of a non-empty series.
TSummary Summarise(std::vector<double> values);

// CPU time of the whole process so far, user and system, in seconds.
double ProcessCpuSeconds();
// The ids of the process's threads now.
std::set<int> ThreadIds();
// How often the thread gave up the processor of its own accord: each is one wake-up ending.
long ThreadVoluntarySwitches(int tid);

// A number from the command line, or the default when absent; exits with a usage line when it is
// malformed or below the minimum.
long ArgumentOr(int argc, char** argv, int index, long fallback, const char* usage, long minimum = 1);
// A program of this build: they all sit in one folder.
std::string ProgramBeside(const char* name);

// Time on the wire of `bytes` bytes at `baud` with 10 bits a byte (8N1), in milliseconds.
double WireMs(double bytes, double baud);
// The port's rate and the frames' sizes, as the console uses them.
inline constexpr double LineBaud = 9600;
inline constexpr double CommandBytes = 5;
inline constexpr double StatusRequestBytes = 4;
inline constexpr double AnswerBytes = 5;

// The times of the simulator's frames received or answers sent at or after `from`, once at least
// `count` of them are recorded: it notes an answer just after writing it, so the console may be done
// with it first. With `command`, only those with that command code. Throws when they do not come
// within a second.
std::vector<TBenchClock::time_point> TrafficSince(const TSimLine& sim, TSimTraffic::TDirection direction,
                                                 TBenchClock::time_point from, std::size_t count,
                                                 std::optional<std::uint8_t> command = std::nullopt);

// ozmet-sim as a program of its own, its line linked as the folder's port 1, with these options
// besides; returns once it is ready.
std::unique_ptr<TChildProcess> StartSimProcess(const TBenchFolder& folder, const std::vector<std::string>& options = {});
// The window on the folder's Data, shown, its port open; message boxes go to standard error.
// Throws std::runtime_error when the port did not open.
std::unique_ptr<TForm1> OpenConsole(const TBenchFolder& folder);
// The simulator opened on a pseudo-terminal of its own, linked as the folder's port 1, and the window on it.
std::unique_ptr<TForm1> OpenConsoleOn(TSimLine& sim, const TBenchFolder& folder);

// Waits, running the worker's window steps, until the exchange's worker has finished; false after 5 s.
bool WaitForExchangeEnd(TForm1& form);
// Leaves the window as the next action expects it: the exchange ended, the poll timer off, drawn.
// Throws std::runtime_error when the exchange did not end.
void EndExchange(TForm1& form);
// Runs the window's event loop, timers and drawing included, for that long.
void RunEventLoopFor(std::chrono::milliseconds span);

// Runs a benchmark's body; a failure is reported and ends it with 3, after its temp folders and the
// programs it started were cleaned up on the way out.
int RunCatching(int (*body)(int, char**), int argc, char** argv);

// "meets" or "MISSES", for the line that prints a figure beside its goal.
const char* Verdict(bool met);
