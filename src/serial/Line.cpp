#include "Line.h"

#include "NetworkAddress.h"
#include "Rfc2217Line.h"
#include "SerialDevice.h"
#include "TcpLine.h"

std::unique_ptr<TLine> TLine::For(const std::string& name)
{
  const auto address = TNetworkAddress::Parse(name);
  if (address && address->Kind == TNetworkAddress::TKind::Rfc2217)
    return std::make_unique<TRfc2217Line>();
  if (address)
    return std::make_unique<TTcpLine>();
  return std::make_unique<TSerialDevice>();
}

std::vector<std::uint8_t> TLine::DropInput()
{
  std::vector<std::uint8_t> dropped;
  std::uint8_t chunk[64];
  for (std::size_t got; (got = Read(chunk, sizeof chunk)) > 0;)
    dropped.insert(dropped.end(), chunk, chunk + got);
  return dropped;
}
