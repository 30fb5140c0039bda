#pragma once

#include <optional>
#include <string>

// A broker as the operator names it: mqtt://HOST[:PORT] (1883) or mqtts://HOST[:PORT] (8883, TLS). Credentials
// never go in it: they would end in logs and settings.
struct TMqttUrl {
  bool Tls = false;
  std::string Host;
  int Port = 0;

  // Empty with the reason in `error` when the text is no broker's URL.
  static std::optional<TMqttUrl> Parse(const std::string& text, std::string& error);
  std::string Text() const;
};
