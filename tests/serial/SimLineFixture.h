#pragma once

#include "PtyClient.h"
#include "SimLine.h"
#include "protocol/OzmCommands.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <vector>

// The simulator's line on a real pty, with a client in the console's place, and the frames it exchanges.
namespace SimLineFixture {

using namespace std::chrono_literals;
using TBytes = TPtyClient::TBytes;
using TClock = std::chrono::steady_clock;

// Generous, since a read returns as soon as the bytes are there; Quiet is how long silence must last.
constexpr auto Deadline = 2000ms;
constexpr auto AnswerLimit = 300ms;
constexpr auto Quiet = 400ms;

inline TBytes Status(std::uint8_t address)
{
  const TStatusRequest request = TOzmCommands::StatusRequestFor(address);
  return {request.begin(), request.end()};
}

inline TBytes Command(std::uint8_t address, std::uint8_t command, std::uint8_t value = 0)
{
  return {FrameMarker, address, command, value, TOzmCommands::Crc8(3, address, command, value)};
}

inline TBytes Sealed(TBytes bytes)
{
  bytes.push_back(TOzmCommands::Crc8(bytes));
  return bytes;
}

// A controller at rest with the default encoder answers the status request like this.
inline TBytes IdleStatus(std::uint8_t address)
{
  return Sealed({address, 0x80, 0x00, 0x00});
}

inline TBytes Join(std::initializer_list<TBytes> parts)
{
  TBytes all;
  for (const TBytes& part : parts)
    all.insert(all.end(), part.begin(), part.end());
  return all;
}

inline bool CrcRight(const TBytes& answer)
{
  return answer.size() >= 5 && TOzmCommands::Crc8(std::span(answer).first(4)) == answer[4];
}

class TSimLineTest : public testing::Test {
protected:
  void Open(const std::vector<std::uint8_t>& addresses = {0}, const TSimLineSettings& line = {})
  {
    Line.emplace(addresses);
    Line->SetLineSettings(line);
    Line->Open();
    ASSERT_TRUE(Client.Open(Line->DevicePath())) << Line->DevicePath();
  }

  void Send(const TBytes& bytes)
  {
    ASSERT_TRUE(Client.Write(bytes));
  }

  TBytes Exchange(const TBytes& request, std::size_t answerSize = 5)
  {
    EXPECT_TRUE(Client.Write(request));
    return Client.ReadExactly(answerSize, Deadline);
  }

  void ExpectNothing()
  {
    EXPECT_EQ(Client.ReadAvailable(Quiet), TBytes{});
  }

  std::optional<TSimLine> Line;
  TPtyClient Client;
};

} // namespace SimLineFixture
