#pragma once

#include <cstdint>
#include <netinet/in.h>

// 127.0.0.1 at the port, for the test's own servers and the ones it starts.
inline sockaddr_in LoopbackAddress(int port)
{
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  return address;
}
