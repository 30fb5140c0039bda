#include "serial/PortSettingsFile.h"

#include "serial/EncodedStream.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <string_view>
#include <utility>

namespace {

// The first line, or nothing when it runs past the end of what was read and the file goes on.
std::optional<std::string_view> FirstLine(std::string_view text, bool fileGoesOn)
{
  const std::size_t end = text.find_first_of("\r\n");
  if (end == std::string_view::npos && fileGoesOn)
    return std::nullopt;
  return text.substr(0, end);
}

// An optional sign and decimal digits, nothing else: blanks before or after make it no number.
std::optional<std::int32_t> ParseDecimal(std::string_view text)
{
  // from_chars takes a '-' but not a '+'.
  if (text.starts_with('+')) {
    text.remove_prefix(1);
    if (text.starts_with('-'))
      return std::nullopt;
  }
  std::int32_t value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc{} || stop != end)
    return std::nullopt;
  return value;
}

} // namespace

TPortSettingsFile::TPortSettingsFile(std::string path)
    : Path(std::move(path))
{
}

TPortSettingsFile::TLoadResult TPortSettingsFile::Load() const
{
  TEncodedStream stream(Path, TEncodedStream::TMode::OpenRead, true);
  if (!stream.IsOpen())
    return {};
  const std::uint64_t size = stream.Size();
  const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(size, MaxReadBytes));
  std::array<std::uint8_t, MaxReadBytes> bytes{};
  if (stream.Read(bytes.data(), wanted) != wanted)
    return {};
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), wanted);
  const std::optional<std::string_view> line = FirstLine(text, size > wanted);
  return {true, line ? ParseDecimal(*line) : std::nullopt};
}

bool TPortSettingsFile::Save(std::int32_t portNumber) const
{
  TEncodedStream stream(Path, TEncodedStream::TMode::Create, true);
  if (!stream.IsOpen())
    return false;
  const std::string line = std::to_string(portNumber) + "\r\n";
  return stream.Write(reinterpret_cast<const std::uint8_t*>(line.data()), line.size()) == line.size();
}
