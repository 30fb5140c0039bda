// Polls a running simulated motor for a while and reports what the run cost: resident memory and
// the heap in use at the start and the end (the log is cleared as it goes, so its text does not
// count), and how many exchanges failed. ./test runs it for two minutes under AddressSanitizer;
// by hand: OZMET_SOAK_SECONDS=1800 build/asan/bin/soak_tests
#include "ProcStatus.h"
#include "SimLine.h"
#include "TempDir.h"
#include "console/Form1.h"
#include "protocol/OzmCommands.h"
#include "serial/Exchange.h"
#include "serial/PortSettingsFile.h"
#include "widgets/MessageBox.h"

#include <QAbstractButton>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <malloc.h>

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer's own count of the heap in use; GCC ships no header that declares it.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

using namespace std::chrono_literals;

// Bytes the program holds on the heap now; under AddressSanitizer its own count, which leaves out
// the freed blocks it keeps in quarantine.
std::size_t HeapInUse()
{
#if defined(__SANITIZE_ADDRESS__)
  return __sanitizer_get_current_allocated_bytes();
#else
  return mallinfo2().uordblks;
#endif
}

std::chrono::seconds SoakTime()
{
  const char* text = std::getenv("OZMET_SOAK_SECONDS");
  return std::chrono::seconds(text ? std::max(10L, std::strtol(text, nullptr, 10)) : 120);
}

struct TLogTally {
  long Polls = 0;
  long Failures = 0;
};

// Counts the status requests and the lines of trouble in the log, then clears it.
void TallyAndClear(QPlainTextEdit& log, TLogTally& tally)
{
  static const QStringList trouble = {TExchange::NoAnswerText, TExchange::PortErrorText, "Stop",
                                      "motor status - no answer ", CrcErrorText};
  for (const QString& line : log.toPlainText().split('\n')) {
    tally.Polls += line == "motor status";
    tally.Failures += trouble.contains(line);
  }
  log.clear();
}

TEST(Soak, PollingARunningMotorLosesNothingAndDoesNotGrow)
{
  SetMessageRecorder([](const std::string& text) { ADD_FAILURE() << "message: " << text; });
  TSimLine sim{{0}};
  sim.Open();
  TTempDir data;
  data.Link("COM1", sim.DevicePath());
  ASSERT_TRUE(TPortSettingsFile(data.Path() + "/portp.dat").Save(1));
  {
    TForm1 form(data.Path());
    form.show();
    auto& log = *form.findChild<QPlainTextEdit*>("lbBufRead");
    auto* speed = form.findChild<QLabel*>("lblCurrentSpeed");
    form.findChild<QAbstractButton*>("BtnRun")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return speed->text() == "Current speed 1020.00 rpm"; }, 10000));

    TLogTally tally;
    form.BtnClearLogClick();
    const long rssStart = ResidentKiB();
    const std::size_t heapStart = HeapInUse();
    const auto end = std::chrono::steady_clock::now() + SoakTime();
    while (std::chrono::steady_clock::now() < end) {
      QTest::qWait(5000);
      TallyAndClear(log, tally);
    }
    const long rssEnd = ResidentKiB();
    const std::size_t heapEnd = HeapInUse();
    std::printf("soak: %lld s, %ld polls, %ld failed exchanges\n", static_cast<long long>(SoakTime().count()),
                tally.Polls, tally.Failures);
    std::printf("soak: resident %ld KiB at start, %ld KiB at the end; heap in use %zu bytes, then %zu bytes\n",
                rssStart, rssEnd, heapStart, heapEnd);
    EXPECT_EQ(tally.Failures, 0);
    // Two polls a second, less the pauses of the test's own waits.
    EXPECT_GE(tally.Polls, static_cast<long>(SoakTime().count()) * 3 / 2);
    EXPECT_LT(static_cast<double>(heapEnd), static_cast<double>(heapStart) + 256 * 1024) << "the heap grew";
    EXPECT_TRUE(form.findChild<QTimer*>("TimerGetMotorState")->isActive()) << "still polling";
  }
  SetMessageRecorder({});
}

} // namespace
