#include "console/SequencePanelFeed.h"

#include "console/FormSequence.h"

#include <QMetaObject>

template <class TShow>
void TSequencePanelFeed::Post(TShow show)
{
  TFormSequence* panel = &Panel;
  QMetaObject::invokeMethod(
      panel, [panel, show = std::move(show)] { show(*panel); }, Qt::QueuedConnection);
}

void TSequencePanelFeed::RunBegun(const TRunResult& run)
{
  Post([run](TFormSequence& panel) { panel.RunBegun(run); });
}

void TSequencePanelFeed::StepBegun(const std::string& path, const std::string& text, TClock::time_point planned,
                                   double seconds)
{
  Post([=](TFormSequence& panel) { panel.StepBegun(path, text, planned, seconds); });
}

void TSequencePanelFeed::Sample(const TSample& sample)
{
  Post([sample](TFormSequence& panel) { panel.Sample(sample); });
}

void TSequencePanelFeed::CheckDecided(std::uint8_t address, const std::string& path, const TCheckResult& check)
{
  Post([=](TFormSequence& panel) { panel.CheckDecided(address, path, check); });
}

void TSequencePanelFeed::StepEnded(std::uint8_t address, const TStepResult& step)
{
  Post([=](TFormSequence& panel) { panel.StepEnded(address, step); });
}

void TSequencePanelFeed::RunEnded(const TRunResult& run)
{
  Post([run](TFormSequence& panel) { panel.RunEnded(run); });
}
