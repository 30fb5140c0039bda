#pragma once

#include "serial/TcpLine.h"
#include "serial/TelnetCodec.h"

// A line at a serial device server that speaks RFC 2217 ("rfc2217://HOST:PORT"): Telnet with the COM
// port option, so the console's line settings and modem lines go to the far end's device. Nothing
// waits for the server to confirm them.
class TRfc2217Line : public TTcpLine {
public:
  bool Open(const std::string& name) override;
  bool Apply(const TLineSettings& settings) override;

protected:
  void Received(std::span<const std::uint8_t> bytes) override;
  std::vector<std::uint8_t> Wrapped(std::span<const std::uint8_t> bytes) override;

private:
  TTelnetCodec Codec;
};
