#include "bus/BusAddresses.h"

#include "motor/ValueReader.h"

#include <algorithm>
#include <sstream>

std::vector<std::string> TBusAddresses::Items(const std::string& text)
{
  std::vector<std::string> items;
  // 1, $01 and 0x01 are one controller, driven once.
  const auto add = [&](const std::string& item) {
    const std::optional<std::uint8_t> address = Address(item);
    if (std::none_of(items.begin(), items.end(), [&](const std::string& listed) {
          return listed == item || (address && Address(listed) == address);
        }))
      items.push_back(item);
  };
  std::istringstream parts(text);
  for (std::string item; std::getline(parts, item, ',');) {
    if (item.empty())
      throw std::invalid_argument("\"" + text + "\" has an empty item");
    const std::size_t dash = item.find('-', 1);
    if (dash == std::string::npos) {
      add(item);
      continue;
    }
    const std::optional<std::int32_t> low = ParseValue(item.substr(0, dash)), high = ParseValue(item.substr(dash + 1));
    if (!low || !high || *low < 0 || *high > LastAddress || *low > *high)
      throw std::invalid_argument("\"" + item + "\" is no range of addresses: write FIRST-LAST within 0..254");
    for (std::int32_t address = *low; address <= *high; ++address)
      add(std::to_string(address));
  }
  if (items.empty() || text.back() == ',')
    throw std::invalid_argument("\"" + text + "\" has an empty item");
  return items;
}

std::vector<std::uint8_t> TBusAddresses::Parse(const std::string& text)
{
  std::vector<std::uint8_t> addresses;
  for (const std::string& item : Items(text)) {
    const std::optional<std::uint8_t> address = Address(item);
    if (!address)
      throw std::invalid_argument("\"" + item + "\" is no address: write 0..254, $00..$FE or a range such as 1-4");
    if (std::find(addresses.begin(), addresses.end(), *address) == addresses.end())
      addresses.push_back(*address);
  }
  return addresses;
}

std::optional<std::uint8_t> TBusAddresses::Address(const std::string& item)
{
  const std::optional<std::int32_t> value = ParseValue(item);
  if (!value || *value < 0 || *value > LastAddress)
    return std::nullopt;
  return static_cast<std::uint8_t>(*value);
}
