#pragma once

#include <chrono>
#include <string>

// UTC to the millisecond, as records and ozmetctl's JSON say it: "2026-12-07T21:55:03.127Z".
std::string UtcText(std::chrono::system_clock::time_point time);
// UTC to the second without separators, for file names: "20261207T215503Z".
std::string UtcStamp(std::chrono::system_clock::time_point time);
