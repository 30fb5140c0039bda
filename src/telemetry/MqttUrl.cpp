#include "telemetry/MqttUrl.h"

#include <charconv>

namespace {

bool Starts(const std::string& text, const char* prefix, std::string& rest)
{
  const std::string start(prefix);
  if (text.compare(0, start.size(), start) != 0)
    return false;
  rest = text.substr(start.size());
  return true;
}

} // namespace

std::optional<TMqttUrl> TMqttUrl::Parse(const std::string& text, std::string& error)
{
  TMqttUrl url;
  std::string rest;
  if (Starts(text, "mqtts://", rest))
    url.Tls = true;
  else if (!Starts(text, "mqtt://", rest)) {
    error = "\"" + text + "\" is no broker: give mqtt://HOST[:PORT] or mqtts://HOST[:PORT]";
    return std::nullopt;
  }
  if (!rest.empty() && rest.back() == '/')
    rest.pop_back();
  if (rest.find('@') != std::string::npos) {
    error = "a broker's URL holds no user or password: give them in the environment or the settings";
    return std::nullopt;
  }
  url.Port = url.Tls ? 8883 : 1883;
  // [::1]:1883 for an IPv6 address; a colon after the host otherwise starts the port.
  const std::size_t hostEnd = rest.starts_with("[") ? rest.find(']') + 1 : rest.find(':');
  url.Host = rest.substr(0, hostEnd);
  const std::string port = hostEnd < rest.size() ? rest.substr(hostEnd) : "";
  if (url.Host.empty() || url.Host == "[]" || url.Host.find('/') != std::string::npos) {
    error = "\"" + text + "\" names no host";
    return std::nullopt;
  }
  if (url.Host.front() == '[')
    url.Host = url.Host.substr(1, url.Host.size() - 2);
  if (!port.empty()) {
    const char* end = port.data() + port.size();
    const auto [last, fault] = std::from_chars(port.data() + 1, end, url.Port);
    if (port[0] != ':' || fault != std::errc() || last != end || url.Port < 1 || url.Port > 65535) {
      error = "\"" + text + "\": the port is a number from 1 to 65535";
      return std::nullopt;
    }
  }
  return url;
}

std::string TMqttUrl::Text() const
{
  const bool v6 = Host.find(':') != std::string::npos;
  return std::string(Tls ? "mqtts://" : "mqtt://") + (v6 ? "[" + Host + "]" : Host) + ":" + std::to_string(Port);
}
