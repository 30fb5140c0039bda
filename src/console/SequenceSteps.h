#pragma once

#include "sequence/Sequence.h"
#include "sequence/SequenceResult.h"

#include <QTreeWidget>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

// The steps of the sequence panel, as the file has them: a repeat holds its steps and says which
// time it is on. The step under way is marked with the time it has left; each check is added under
// its step as it is decided, and a step begun again keeps only its failures of the times before.
class TSequenceSteps : public QTreeWidget {
public:
  using TClock = std::chrono::steady_clock;
  enum TColumn { ColStep, ColTime, ColResult, ColumnCount };

  explicit TSequenceSteps(QWidget* parent);

  static QColor VerdictColour(TVerdict verdict);

  void Show(const TSequence& sequence);
  // Every mark and result of the run before taken away.
  void Clear();
  // path: "3", "5.2.1" (step 5, its second time, its first step), "0" for the motor's settings.
  // seconds: how long it lasts at most from `planned`, 0 when it does not wait.
  void Begin(const std::string& path, const std::string& text, TClock::time_point planned, double seconds);
  void AddCheck(std::uint8_t address, const std::string& path, const TCheckResult& check);
  void EndStep(std::uint8_t address, const TStepResult& step);
  // No step under way any more; the checks over the whole run (the link's) under an item of their own.
  void Finish(const TRunResult& run);
  // The time left of the step under way, shown again.
  void Tick();

private:
  void AddSteps(QTreeWidgetItem* parent, const std::vector<TSequenceStep>& steps);
  QTreeWidgetItem* ItemAt(const std::string& path);
  void AddResult(QTreeWidgetItem* step, const QString& text, TVerdict verdict, const QString& why);
  static void ShowVerdict(QTreeWidgetItem* item, TVerdict verdict);
  void Mark(bool on);

  QTreeWidgetItem* Current = nullptr;
  std::optional<TClock::time_point> Ends; // of the step under way, when it waits
};
