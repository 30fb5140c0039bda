#pragma once

#include "sequence/SequenceResult.h"

#include <string>
#include <vector>

// One controller's output speed against time, as inline SVG for the run's report: the answered
// samples as a line broken where answers are missing, signed (backward below zero), each step's
// start marked with its path, and the Low..High band of each speed check shaded over its step. The
// page's style sheet gives the classes their looks.
class TSpeedChart {
public:
  static std::string Svg(const TControllerResult& controller, const std::vector<TSample>& samples);

private:
  struct TBand {
    double Start, End, Low, High;
    bool Passed;
  };

  TSpeedChart(const TControllerResult& controller, const std::vector<TSample>& samples);
  bool Backward(double start, double end) const;
  void FitSpeeds();
  std::string Axes() const;
  std::string Bands() const;
  std::string StepMarks() const;
  std::string Line() const;
  double X(double seconds) const;
  double Y(double rpm) const;

  const TControllerResult& Controller;
  std::vector<const TSample*> Own; // this controller's, as they came
  std::vector<TBand> Limits;
  double Seconds = 1;              // the time axis runs from 0
  double Low = 0, High = 1;        // the speed axis
  double SecondsTick = 1, RpmTick = 1;
};
