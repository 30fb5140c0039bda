#include "SimFrameParser.h"

#include "protocol/OzmCommands.h"

#include <algorithm>

std::vector<TSimFrameParser::TBytes> TSimFrameParser::Feed(std::span<const std::uint8_t> bytes)
{
  Buffer.insert(Buffer.end(), bytes.begin(), bytes.end());
  std::vector<TBytes> frames;
  for (;;) {
    Buffer.erase(Buffer.begin(), std::find(Buffer.begin(), Buffer.end(), FrameMarker));
    const std::size_t length = CompleteFrameLength();
    if (length == 0)
      return frames;
    const std::span<const std::uint8_t> frame(Buffer.data(), length);
    const bool good = TOzmCommands::Crc8(frame.subspan(1, length - 2)) == frame.back();
    if (good)
      frames.emplace_back(frame.begin(), frame.end());
    Buffer.erase(Buffer.begin(), Buffer.begin() + static_cast<std::ptrdiff_t>(good ? length : 1));
  }
}

std::size_t TSimFrameParser::CompleteFrameLength() const
{
  constexpr std::size_t CommandIndex = 2;
  if (Buffer.size() <= CommandIndex)
    return 0;
  const std::size_t length = Buffer[CommandIndex] == CmdGetStatus ? TStatusRequest{}.size() : TFrame{}.size();
  return Buffer.size() >= length ? length : 0;
}
