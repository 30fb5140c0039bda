#include "serial/Rfc2217Line.h"

bool TRfc2217Line::Open(const std::string& name)
{
  Codec = {};
  return TTcpLine::Open(name) && Send(TTelnetCodec::Greeting());
}

bool TRfc2217Line::Apply(const TLineSettings& settings)
{
  return TTcpLine::Apply(settings) && Send(TTelnetCodec::Settings(settings));
}

void TRfc2217Line::Received(std::span<const std::uint8_t> bytes)
{
  std::vector<std::uint8_t> data, replies;
  Codec.Decode(bytes, data, replies);
  Keep(data);
  if (!replies.empty())
    Send(replies);
}

std::vector<std::uint8_t> TRfc2217Line::Wrapped(std::span<const std::uint8_t> bytes)
{
  return TTelnetCodec::Escaped(bytes);
}
