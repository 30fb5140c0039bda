#include "sequence/SpeedChart.h"

#include "files/HtmlText.h"
#include "files/NumberFormat.h"
#include "protocol/OzmCommands.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double Width = 760, Height = 280;
constexpr double Left = 60, Right = 12, Top = 24, Bottom = 40;
// Step labels closer than this to the one before are left out rather than written over it.
constexpr double LabelGap = 30;

// 1, 2 or 5 times a power of ten, giving about five ticks over span.
double TickStep(double span)
{
  if (!(span > 0))
    return 1;
  const double rough = span / 5;
  const double power = std::pow(10.0, std::floor(std::log10(rough)));
  const double mantissa = rough / power;
  return power * (mantissa > 5 ? 10 : mantissa > 2 ? 5 : mantissa > 1 ? 2 : 1);
}

std::vector<double> Ticks(double from, double to, double step)
{
  std::vector<double> ticks;
  for (int i = 0; from + i * step <= to + step * 1e-9; ++i)
    ticks.push_back(from + i * step);
  return ticks;
}

// Coordinates to a tenth of a unit: finer than any screen or printer shows.
std::string At(double value)
{
  return FormatGeneral(std::round(value * 10) / 10);
}

std::string Label(double value)
{
  return FormatGeneral(std::round(value * 1e6) / 1e6);
}

std::string VerticalLine(const char* type, double x)
{
  return "<line class=\"" + std::string(type) + "\" x1=\"" + At(x) + "\" y1=\"" + At(Top) + "\" x2=\"" + At(x) +
         "\" y2=\"" + At(Height - Bottom) + "\"/>\n";
}

// Backward below zero, so that a reverse shows.
double Signed(const TSample& sample)
{
  return sample.Direction ? -sample.SpeedRpm : sample.SpeedRpm;
}

std::string Text(const char* type, double x, double y, const std::string& text)
{
  return "<text class=\"" + std::string(type) + "\" x=\"" + At(x) + "\" y=\"" + At(y) + "\">" + HtmlEscaped(text) +
         "</text>\n";
}

} // namespace

std::string TSpeedChart::Svg(const TControllerResult& controller, const std::vector<TSample>& samples)
{
  const TSpeedChart chart(controller, samples);
  const std::string name = "Output speed of " + TOzmCommands::HexAddress(controller.Address);
  return "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"chart\" viewBox=\"0 0 " + At(Width) + " " + At(Height) +
         "\" role=\"img\" aria-label=\"" + HtmlEscaped(name) + "\">\n<title>" + HtmlEscaped(name) + "</title>\n" +
         chart.Axes() + chart.Bands() + chart.StepMarks() + chart.Line() + "</svg>\n";
}

TSpeedChart::TSpeedChart(const TControllerResult& controller, const std::vector<TSample>& samples)
    : Controller(controller)
{
  for (const TSample& sample : samples)
    if (sample.Address == controller.Address) {
      Own.push_back(&sample);
      Seconds = std::max(Seconds, sample.Seconds);
    }
  for (const TStepResult& step : controller.Steps) {
    Seconds = std::max(Seconds, step.End);
    for (const TCheckResult& check : step.Checks)
      if (check.Kind == TSequenceCheck::TKind::Speed && check.Low && check.High) { // a reach's limit is a time
        const double side = Backward(step.Start, step.End) ? -1 : 1;
        Limits.push_back({step.Start, step.End, std::min(side * *check.Low, side * *check.High),
                          std::max(side * *check.Low, side * *check.High), check.Verdict == TVerdict::Pass});
      }
  }
  SecondsTick = TickStep(Seconds);
  FitSpeeds();
}

// A limit is on the side its step's turning answers mostly took; the result keeps no direction of its own.
bool TSpeedChart::Backward(double start, double end) const
{
  int backward = 0;
  for (const TSample* sample : Own)
    if (sample->State == TSample::TState::Answered && sample->SpeedRpm != 0 && sample->Seconds >= start &&
        sample->Seconds <= end)
      backward += sample->Direction ? 1 : -1;
  return backward > 0;
}

// From the lowest signed speed (0 at most) to the highest (0 at least), on whole ticks past every speed and band.
void TSpeedChart::FitSpeeds()
{
  double low = 0, high = 0;
  for (const TSample* sample : Own)
    if (sample->State == TSample::TState::Answered) {
      low = std::min(low, Signed(*sample));
      high = std::max(high, Signed(*sample));
    }
  for (const TBand& band : Limits) {
    low = std::min(low, band.Low);
    high = std::max(high, band.High);
  }
  RpmTick = TickStep(high - low);
  Low = std::floor(low / RpmTick) * RpmTick;
  High = std::max(std::ceil(high / RpmTick) * RpmTick, Low + RpmTick);
}

std::string TSpeedChart::Axes() const
{
  std::string axes = "<rect class=\"frame\" x=\"" + At(Left) + "\" y=\"" + At(Top) + "\" width=\"" +
                     At(Width - Left - Right) + "\" height=\"" + At(Height - Top - Bottom) + "\"/>\n";
  for (const double seconds : Ticks(0, Seconds, SecondsTick))
    axes += VerticalLine("grid", X(seconds)) + Text("tick x", X(seconds), Height - Bottom + 14, Label(seconds));
  for (const double rpm : Ticks(Low, High, RpmTick))
    axes += "<line class=\"grid\" x1=\"" + At(Left) + "\" y1=\"" + At(Y(rpm)) + "\" x2=\"" + At(Width - Right) +
            "\" y2=\"" + At(Y(rpm)) + "\"/>\n" + Text("tick y", Left - 4, Y(rpm) + 3, Label(rpm));
  if (Low < 0) // standstill between forward and backward
    axes += "<line class=\"zero\" x1=\"" + At(Left) + "\" y1=\"" + At(Y(0)) + "\" x2=\"" + At(Width - Right) +
            "\" y2=\"" + At(Y(0)) + "\"/>\n";
  return axes + Text("title x", (Left + Width - Right) / 2, Height - 6, "time (s)") +
         Text("title y", 4, Top - 8, "rpm");
}

std::string TSpeedChart::Bands() const
{
  std::string bands;
  for (const TBand& band : Limits)
    bands += "<rect class=\"band " + std::string(band.Passed ? "pass" : "fail") + "\" x=\"" + At(X(band.Start)) +
             "\" y=\"" + At(Y(band.High)) + "\" width=\"" + At(X(band.End) - X(band.Start)) + "\" height=\"" +
             At(Y(band.Low) - Y(band.High)) + "\"/>\n";
  return bands;
}

std::string TSpeedChart::StepMarks() const
{
  std::string marks;
  double labelled = -LabelGap;
  for (const TStepResult& step : Controller.Steps) {
    const double x = X(step.Start);
    marks += VerticalLine("step", x);
    if (x - labelled >= LabelGap) {
      marks += Text("step", x + 2, Top - 4, step.Path);
      labelled = x;
    }
  }
  if (!Controller.Steps.empty())
    marks += VerticalLine("step", X(Controller.Steps.back().End));
  return marks;
}

// A lone answer between missing ones starts and ends in the same point: a dot under round caps.
std::string TSpeedChart::Line() const
{
  std::string path;
  bool joined = false;
  for (const TSample* sample : Own) {
    if (sample->State != TSample::TState::Answered) {
      joined = false;
      continue;
    }
    const std::string point = At(X(sample->Seconds)) + "," + At(Y(Signed(*sample)));
    path += (joined ? " L" : " M" + point + " L") + point;
    joined = true;
  }
  return path.empty() ? "" : "<path class=\"speed\" d=\"" + path.substr(1) + "\"/>\n";
}

double TSpeedChart::X(double seconds) const
{
  return Left + seconds / Seconds * (Width - Left - Right);
}

double TSpeedChart::Y(double rpm) const
{
  return Height - Bottom - (rpm - Low) / (High - Low) * (Height - Top - Bottom);
}
