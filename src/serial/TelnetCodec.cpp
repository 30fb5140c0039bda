#include "serial/TelnetCodec.h"

namespace {

constexpr std::uint8_t Iac = 255, Dont = 254, Do = 253, Wont = 252, Will = 251, Sb = 250, Se = 240;
constexpr std::uint8_t Binary = 0, SuppressGoAhead = 3, ComPort = 44;
// COM port option commands, client to server.
constexpr std::uint8_t SetBaudRate = 1, SetDataSize = 2, SetParity = 3, SetStopSize = 4, SetControl = 5;
constexpr std::uint8_t NoFlowControl = 1, DtrOff = 9, RtsOn = 11;

bool Accepted(std::uint8_t option)
{
  return option == Binary || option == SuppressGoAhead || option == ComPort;
}

// IAC SB COM-PORT-OPTION command value... IAC SE, a 0xFF in the value doubled.
void AppendSub(std::vector<std::uint8_t>& out, std::uint8_t command, std::span<const std::uint8_t> value)
{
  out.insert(out.end(), {Iac, Sb, ComPort, command});
  for (const std::uint8_t byte : value) {
    out.push_back(byte);
    if (byte == Iac)
      out.push_back(Iac);
  }
  out.insert(out.end(), {Iac, Se});
}

} // namespace

std::array<bool, 256> TTelnetCodec::Offered(bool ours)
{
  std::array<bool, 256> on{};
  on[Binary] = on[SuppressGoAhead] = true;
  on[ComPort] = ours;
  return on;
}

std::vector<std::uint8_t> TTelnetCodec::Greeting()
{
  return {Iac, Will, Binary, Iac, Do, Binary, Iac, Will, SuppressGoAhead, Iac, Do, SuppressGoAhead,
          Iac, Will, ComPort};
}

std::vector<std::uint8_t> TTelnetCodec::Settings(const TLineSettings& settings)
{
  std::vector<std::uint8_t> out;
  const std::uint8_t baud[] = {static_cast<std::uint8_t>(settings.Baud >> 24),
                               static_cast<std::uint8_t>(settings.Baud >> 16),
                               static_cast<std::uint8_t>(settings.Baud >> 8), static_cast<std::uint8_t>(settings.Baud)};
  AppendSub(out, SetBaudRate, baud);
  AppendSub(out, SetDataSize, std::array{settings.DataBits});
  // Ours count from 0 (none), the option's from 1; stop bits 1.5 are its 3.
  AppendSub(out, SetParity, std::array{static_cast<std::uint8_t>(settings.Parity + 1)});
  static constexpr std::uint8_t StopSizes[] = {1, 3, 2};
  AppendSub(out, SetStopSize, std::array{StopSizes[settings.StopBits % 3]});
  for (const std::uint8_t control : {NoFlowControl, DtrOff, RtsOn})
    AppendSub(out, SetControl, std::array{control});
  return out;
}

std::vector<std::uint8_t> TTelnetCodec::Escaped(std::span<const std::uint8_t> bytes)
{
  std::vector<std::uint8_t> out;
  out.reserve(bytes.size());
  for (const std::uint8_t byte : bytes) {
    out.push_back(byte);
    if (byte == Iac)
      out.push_back(Iac);
  }
  return out;
}

void TTelnetCodec::Decode(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& data,
                          std::vector<std::uint8_t>& replies)
{
  for (const std::uint8_t byte : bytes) {
    switch (State) {
    case TState::Data:
      if (byte == Iac)
        State = TState::Command;
      else
        data.push_back(byte);
      break;
    case TState::Command:
      State = TState::Data;
      if (byte == Iac)
        data.push_back(Iac);
      else if (byte == Sb)
        State = TState::Sub;
      else if (byte >= Will)
        State = TState::Option;
      Verb = byte; // any other command (NOP, a go-ahead) carries nothing for the line
      break;
    case TState::Option:
      Negotiate(Verb, byte, replies);
      State = TState::Data;
      break;
    case TState::Sub: // the server's word on settings and lines: set aside
      if (byte == Iac)
        State = TState::SubCommand;
      break;
    case TState::SubCommand:
      State = byte == Se ? TState::Data : TState::Sub;
      break;
    }
  }
}

// An option is answered only when its state changes, or when it is refused: two ends never answer
// each other for ever. We take binary and no go-ahead both ways, the COM port option at our end.
void TTelnetCodec::Negotiate(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t>& replies)
{
  const bool ours = verb == Do || verb == Dont;
  std::array<bool, 256>& state = ours ? Ours : Theirs;
  const bool asked = verb == Do || verb == Will;
  const bool take = asked && Accepted(option) && (ours || option != ComPort);
  if (take == state[option] && (take || !asked))
    return;
  state[option] = take;
  replies.insert(replies.end(), {Iac, ours ? (take ? Will : Wont) : (take ? Do : Dont), option});
}
