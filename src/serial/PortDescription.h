#pragma once

#include <cstdint>
#include <string>

// The one-line description of the port for the window's bottom panel, e.g.
// "Com1;  8 bit, stop-bit: 1;  parity: none;  ". A code outside its table adds nothing.
std::string PortDescription(std::int32_t portNumber, std::uint8_t byteSize, std::uint8_t stopBits,
                            std::uint8_t parity);

struct TLineSettings;
// The settings in the short form a device's label gives them: "9600 8N1", "2400 7E2".
std::string ShortLineSettings(const TLineSettings& settings);
