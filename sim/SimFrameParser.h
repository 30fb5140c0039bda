#pragma once

#include <cstdint>
#include <span>
#include <vector>

// Cuts the byte stream of the line into frames. Skips bytes up to the marker, takes four bytes for a
// status request and five for any other command, and drops a marker whose frame fails its CRC so
// the next marker can start a frame. Between calls it keeps at most one unfinished frame.
class TSimFrameParser {
public:
  using TBytes = std::vector<std::uint8_t>;

  // Appends what came from the line and returns the complete frames with a right CRC, in order.
  std::vector<TBytes> Feed(std::span<const std::uint8_t> bytes);

private:
  // The length of the frame at the start of the buffer once all of it is there, else 0.
  std::size_t CompleteFrameLength() const;

  TBytes Buffer;
};
