#include "BusList.h"

#include "BusAddresses.h"

#include <algorithm>
#include <sstream>

bool TBusList::Add(std::uint8_t address, const std::string& label)
{
  if (Find(address))
    return false;
  List.emplace_back(address, label);
  return true;
}

bool TBusList::Remove(std::uint8_t address)
{
  return std::erase_if(List, [address](const TBusController& c) { return c.Address() == address; }) > 0;
}

TBusController* TBusList::Find(std::uint8_t address)
{
  const auto found = std::find_if(List.begin(), List.end(), [address](const auto& c) { return c.Address() == address; });
  return found == List.end() ? nullptr : &*found;
}

std::vector<std::uint8_t> TBusList::Addresses() const
{
  std::vector<std::uint8_t> addresses;
  for (const TBusController& controller : List)
    addresses.push_back(controller.Address());
  return addresses;
}

std::string TBusList::Text() const
{
  std::string text = "# The controllers of this line: address, tab, label.\n";
  for (const TBusController& controller : List)
    text += std::to_string(controller.Address()) + '\t' + controller.Label() + '\n';
  return text;
}

TBusList TBusList::FromText(const std::string& text)
{
  TBusList list;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t tab = line.find('\t');
    if (const auto address = TBusAddresses::Address(line.substr(0, tab)); address && !line.starts_with('#'))
      list.Add(*address, tab == std::string::npos ? std::string() : line.substr(tab + 1));
  }
  return list;
}
