#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// A line at a serial device server, written where a device name goes: "tcp://HOST:PORT" carries the
// bytes as they are, "rfc2217://HOST:PORT" speaks Telnet with the COM port option, so the line
// settings go to the far end. A host in IPv6 form is written in brackets: "tcp://[::1]:2000".
struct TNetworkAddress {
  enum class TKind { Tcp, Rfc2217 };

  TKind Kind = TKind::Tcp;
  std::string Host;
  std::uint16_t Port = 0;

  // Nothing when the text is not such an address, or not a well-formed one.
  static std::optional<TNetworkAddress> Parse(std::string_view text);
  // Whether the text begins with one of the two schemes: a name that no device path has.
  static bool IsUrl(std::string_view text);
};
