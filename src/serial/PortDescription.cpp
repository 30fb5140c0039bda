#include "serial/PortDescription.h"

#include "serial/SerialDevice.h"

#include <array>
#include <span>
#include <string_view>

namespace {

// Indexed by the line settings' codes.
constexpr std::array<std::string_view, 4> DataBitsTexts{"5 bit, ", "6 bit, ", "7 bit, ", "8 bit, "};
constexpr std::array<std::string_view, 3> StopBitsTexts{"stop-bit: 1;  ", "stop-bit: 1,5;  ", "stop-bit: 2;  "};
constexpr std::array<std::string_view, 5> ParityTexts{"parity: none;  ", "parity: odd;  ", "parity: even;  ",
                                                      "parity: 1;  ", "parity: 0;  "};

std::string_view TextFor(std::span<const std::string_view> table, std::uint8_t code)
{
  return code < table.size() ? table[code] : std::string_view{};
}

} // namespace

std::string PortDescription(std::int32_t portNumber, std::uint8_t byteSize, std::uint8_t stopBits,
                            std::uint8_t parity)
{
  std::string text = "Com" + std::to_string(portNumber) + ";  ";
  text += TextFor(DataBitsTexts, byteSize);
  text += TextFor(StopBitsTexts, stopBits);
  text += TextFor(ParityTexts, parity);
  return text;
}

std::string ShortLineSettings(const TLineSettings& settings)
{
  static constexpr std::string_view ParityLetters = "NOEMS";
  const char parity = settings.Parity < ParityLetters.size() ? ParityLetters[settings.Parity] : '?';
  return std::to_string(settings.Baud) + " " + std::to_string(settings.DataBits) + parity +
         (settings.StopBits == 0 ? "1" : settings.StopBits == 1 ? "1.5" : "2");
}
