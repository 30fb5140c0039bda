#include "bus/BusList.h"

#include "bus/BusAddresses.h"

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
  int number = 0;
  for (std::string line; std::getline(lines, line);) {
    ++number;
    line.erase(line.find_last_not_of(" \t\r") + 1); // all blank: npos + 1 erases from 0
    if (line.empty() || line.starts_with('#'))
      continue;
    const std::size_t tab = line.find('\t');
    if (const auto address = TBusAddresses::Address(line.substr(0, tab)))
      list.Add(*address, tab == std::string::npos ? std::string() : line.substr(tab + 1));
    else
      list.Unread.push_back("line " + std::to_string(number) + ": \"" + line.substr(0, tab) + "\" is no address");
  }
  return list;
}
