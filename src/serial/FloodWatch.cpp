#include "serial/FloodWatch.h"

void TFloodWatch::Note(std::size_t bytes, TClock::time_point now)
{
  if (Flooded || bytes == 0)
    return;
  if (!CountSince || now - *CountSince >= Span) {
    CountSince = now;
    Counted = 0;
  }
  Counted += bytes;
  Flooded = Counted > MostInSpan;
}

std::string TFloodWatch::Reason() const
{
  if (!Flooded)
    return {};
  return "the line sends without pause: " + std::to_string(Counted) + " bytes in " + std::to_string(Span.count()) +
         " s, no frame";
}
