#include "devices/NetworkAddress.h"

#include <charconv>

namespace {

constexpr std::string_view TcpScheme = "tcp://";
constexpr std::string_view Rfc2217Scheme = "rfc2217://";

} // namespace

bool TNetworkAddress::IsUrl(std::string_view text)
{
  return text.starts_with(TcpScheme) || text.starts_with(Rfc2217Scheme);
}

std::optional<TNetworkAddress> TNetworkAddress::Parse(std::string_view text)
{
  TNetworkAddress address;
  if (text.starts_with(Rfc2217Scheme)) {
    address.Kind = TKind::Rfc2217;
    text.remove_prefix(Rfc2217Scheme.size());
  } else if (text.starts_with(TcpScheme)) {
    text.remove_prefix(TcpScheme.size());
  } else {
    return std::nullopt;
  }
  const std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos || colon == 0)
    return std::nullopt;
  std::string_view host = text.substr(0, colon);
  if (host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  const std::string_view port = text.substr(colon + 1);
  unsigned number = 0;
  const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), number);
  if (host.empty() || host.find_first_of("/[] ") != std::string_view::npos || error != std::errc{} ||
      end != port.data() + port.size() || number == 0 || number > 65535)
    return std::nullopt;
  address.Host = host;
  address.Port = static_cast<std::uint16_t>(number);
  return address;
}
