#include "serial/PortSettingsFile.h"
#include "TempDir.h"
#include "serial/DataFolder.h"
#include "serial/EncodedStream.h"
#include "serial/PortDescription.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using TBytes = std::vector<std::uint8_t>;

// Pinned here, not taken from the class: files saved by earlier builds must stay readable.
constexpr std::uint8_t KnownKey = 0x5A;

TBytes Shifted(std::string_view plain, std::uint8_t shift)
{
  TBytes bytes;
  for (char c : plain)
    bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint8_t>(c) + shift));
  return bytes;
}

TBytes ReadRaw(const fs::path& path)
{
  std::ifstream file(path, std::ios::binary);
  return TBytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void WriteRaw(const fs::path& path, const TBytes& bytes)
{
  std::ofstream file(path, std::ios::binary);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(file.good()) << path;
}

TBytes AllByteValues()
{
  TBytes bytes(256);
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<std::uint8_t>(i);
  return bytes;
}

// Every test gets a fresh folder standing for the program folder; Data inside it is made on demand.
class TempFolder : public ::testing::Test {
protected:
  // Runs before Temp removes the folder, which a read-only Data would hinder.
  void TearDown() override
  {
    std::error_code ignored;
    fs::permissions(Data(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }

  fs::path Data() const { return Root / "Data"; }
  fs::path SettingsPath() const { return Data() / "portp.dat"; }
  void MakeData() const { fs::create_directory(Data()); }

  TTempDir Temp;
  const fs::path Root{Temp.Path()};
};

using EncodedStream = TempFolder;
using SettingsFile = TempFolder;

// TEncodedStream

struct TShiftCase {
  const char* Name;
  bool Encode;
  std::array<std::uint8_t, 5> Key;
  std::uint8_t ExpectedShift;
};

void PrintTo(const TShiftCase& c, std::ostream* os) { *os << c.Name; }

class StreamShift : public TempFolder, public ::testing::WithParamInterface<TShiftCase> {};

TEST_P(StreamShift, StoresEveryByteShiftedAndReadsItBack)
{
  const TShiftCase& c = GetParam();
  const fs::path path = Root / "stream.bin";
  const TBytes plain = AllByteValues();
  {
    TEncodedStream out(path, TEncodedStream::TMode::Create, c.Encode);
    ASSERT_TRUE(out.IsOpen());
    out.Key = c.Key;
    EXPECT_EQ(out.Write(plain.data(), plain.size()), plain.size());
  }
  const TBytes raw = ReadRaw(path);
  ASSERT_EQ(raw.size(), plain.size());
  for (std::size_t i = 0; i < raw.size(); ++i)
    ASSERT_EQ(raw[i], static_cast<std::uint8_t>(plain[i] + c.ExpectedShift)) << "byte " << i;

  TEncodedStream in(path, TEncodedStream::TMode::OpenRead, c.Encode);
  in.Key = c.Key;
  TBytes back(plain.size());
  EXPECT_EQ(in.Read(back.data(), back.size()), plain.size());
  EXPECT_EQ(back, plain);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, StreamShift,
    ::testing::Values(TShiftCase{"EncodeOffPassesBytesUnchanged", false, {KnownKey, 0, 0, 0, 0}, 0},
                      TShiftCase{"BuiltInKey", true, {KnownKey, 0, 0, 0, 0}, KnownKey},
                      TShiftCase{"AllFiveKeysSumModulo256", true, {KnownKey, 0x10, 0x20, 0x30, 0xF0}, 0xAA}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(EncodedStream, ReadPastTheEndGivesOnlyWhatTheFileHolds)
{
  const fs::path path = Root / "three.bin";
  WriteRaw(path, Shifted("abc", KnownKey));
  TEncodedStream in(path, TEncodedStream::TMode::OpenRead, true);
  EXPECT_EQ(in.Size(), 3u);

  std::array<std::uint8_t, 10> buffer;
  buffer.fill(0xEE);
  ASSERT_EQ(in.Read(buffer.data(), buffer.size()), 3u);
  EXPECT_EQ((TBytes(buffer.begin(), buffer.begin() + 3)), (TBytes{'a', 'b', 'c'}));
  for (std::size_t i = 3; i < buffer.size(); ++i)
    EXPECT_EQ(buffer[i], 0xEE) << "byte " << i << " was touched";
  EXPECT_EQ(in.Read(buffer.data(), buffer.size()), 0u);
}

TEST_F(EncodedStream, SuccessiveReadsContinueWhereTheLastStopped)
{
  const fs::path path = Root / "three.bin";
  WriteRaw(path, Shifted("xyz", KnownKey));
  TEncodedStream in(path, TEncodedStream::TMode::OpenRead, true);
  std::array<std::uint8_t, 2> first{}, second{};
  EXPECT_EQ(in.Read(first.data(), 2), 2u);
  EXPECT_EQ(in.Read(second.data(), 2), 1u);
  EXPECT_EQ(first, (std::array<std::uint8_t, 2>{'x', 'y'}));
  EXPECT_EQ(second[0], 'z');
}

TEST_F(EncodedStream, CreateEmptiesAnExistingFile)
{
  const fs::path path = Root / "old.bin";
  WriteRaw(path, TBytes(100, 0x41));
  {
    TEncodedStream out(path, TEncodedStream::TMode::Create, true);
    ASSERT_TRUE(out.IsOpen());
    EXPECT_EQ(out.Size(), 0u);
  }
  EXPECT_EQ(fs::file_size(path), 0u);
}

TEST_F(EncodedStream, FailedOpensReportClosedAndMoveNoBytes)
{
  std::uint8_t byte = 0x31;
  TEncodedStream reader(Root / "missing.bin", TEncodedStream::TMode::OpenRead, true);
  EXPECT_FALSE(reader.IsOpen());
  EXPECT_EQ(reader.Read(&byte, 1), 0u);
  EXPECT_EQ(reader.Size(), 0u);
  TEncodedStream writer(Data() / "portp.dat", TEncodedStream::TMode::Create, true);
  EXPECT_FALSE(writer.IsOpen());
  EXPECT_EQ(writer.Write(&byte, 1), 0u);
  EXPECT_EQ(byte, 0x31);
}

TEST_F(EncodedStream, AFolderDoesNotOpenForReading)
{
  EXPECT_FALSE(TEncodedStream(Root, TEncodedStream::TMode::OpenRead, true).IsOpen());
}

// TPortSettingsFile

TEST_F(SettingsFile, PortTwelveIsFourScrambledBytes)
{
  MakeData();
  TPortSettingsFile settings(SettingsPath());
  ASSERT_TRUE(settings.Save(12));
  EXPECT_EQ(ReadRaw(SettingsPath()), (TBytes{0x8B, 0x8C, 0x67, 0x64})); // '1' '2' CR LF, each + 0x5A
  const TPortSettingsFile::TLoadResult loaded = settings.Load();
  EXPECT_TRUE(loaded.Readable);
  EXPECT_EQ(loaded.PortNumber, 12);
}

class RoundTrip : public TempFolder, public ::testing::WithParamInterface<std::int32_t> {};

TEST_P(RoundTrip, SavesTheDecimalLineAndLoadsItBack)
{
  MakeData();
  TPortSettingsFile settings(SettingsPath());
  ASSERT_TRUE(settings.Save(1234567)); // a longer line first: Save must not leave its tail behind
  ASSERT_TRUE(settings.Save(GetParam()));
  EXPECT_EQ(ReadRaw(SettingsPath()), Shifted(std::to_string(GetParam()) + "\r\n", KnownKey));
  EXPECT_EQ(settings.Load().PortNumber, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Ports, RoundTrip,
                         ::testing::Values(3, 0, -1, -40, 65535, std::numeric_limits<std::int32_t>::max(),
                                           std::numeric_limits<std::int32_t>::min()));

enum class TSetup { NoDataFolder, NoFile, FolderInPlace, Scrambled, Unscrambled };

struct TLoadCase {
  const char* Name;
  TSetup Setup;
  std::string Content;
  bool Readable;
  std::optional<std::int32_t> Port;
};

void PrintTo(const TLoadCase& c, std::ostream* os) { *os << c.Name; }

class LoadInput : public TempFolder, public ::testing::WithParamInterface<TLoadCase> {
protected:
  void Prepare(const TLoadCase& c) const
  {
    if (c.Setup != TSetup::NoDataFolder)
      MakeData();
    if (c.Setup == TSetup::FolderInPlace)
      fs::create_directory(SettingsPath());
    if (c.Setup == TSetup::Scrambled)
      WriteRaw(SettingsPath(), Shifted(c.Content, KnownKey));
    if (c.Setup == TSetup::Unscrambled)
      WriteRaw(SettingsPath(), Shifted(c.Content, 0));
  }
};

TEST_P(LoadInput, GivesItsResultClass)
{
  const TLoadCase& c = GetParam();
  Prepare(c);
  const TPortSettingsFile::TLoadResult loaded = TPortSettingsFile(SettingsPath()).Load();
  EXPECT_EQ(loaded.Readable, c.Readable);
  EXPECT_EQ(loaded.PortNumber, c.Port);
}

const std::string MiB(std::size_t{1} << 20, '7');
using S = TSetup;

INSTANTIATE_TEST_SUITE_P(
    Files, LoadInput,
    ::testing::Values(TLoadCase{"MissingDataFolder", S::NoDataFolder, "", false, {}},
                      TLoadCase{"MissingFile", S::NoFile, "", false, {}},
                      TLoadCase{"FolderWhereTheFileShouldBe", S::FolderInPlace, "", false, {}},
                      TLoadCase{"EmptyFile", S::Scrambled, "", true, {}},
                      TLoadCase{"Letters", S::Scrambled, "abc", true, {}},
                      TLoadCase{"BinaryJunk", S::Scrambled, std::string("\x00\xFF\x80\x01\x7F", 5), true, {}},
                      TLoadCase{"WrittenWithoutTheKey", S::Unscrambled, "12\r\n", true, {}},
                      TLoadCase{"NoLineEnd", S::Scrambled, "12", true, 12},
                      TLoadCase{"FirstOfSeveralLines", S::Scrambled, "34\r\n56\r\n", true, 34},
                      TLoadCase{"LfLineEnds", S::Scrambled, "34\n56\n", true, 34},
                      TLoadCase{"CrLineEnds", S::Scrambled, "34\r56\r", true, 34},
                      TLoadCase{"EmptyFirstLine", S::Scrambled, "\r\n12\r\n", true, {}},
                      TLoadCase{"PlusSign", S::Scrambled, "+12\r\n", true, 12},
                      TLoadCase{"MinusSign", S::Scrambled, "-12\r\n", true, -12},
                      TLoadCase{"TwoSigns", S::Scrambled, "+-12\r\n", true, {}},
                      TLoadCase{"SignAlone", S::Scrambled, "-\r\n", true, {}},
                      TLoadCase{"LeadingZeros", S::Scrambled, "007\r\n", true, 7},
                      TLoadCase{"LeadingBlank", S::Scrambled, " 12\r\n", true, {}},
                      TLoadCase{"TrailingBlank", S::Scrambled, "12 \r\n", true, {}},
                      TLoadCase{"TrailingLetters", S::Scrambled, "12abc\r\n", true, {}},
                      TLoadCase{"AboveInt32", S::Scrambled, "2147483648\r\n", true, {}},
                      TLoadCase{"BelowInt32", S::Scrambled, "-2147483649\r\n", true, {}},
                      TLoadCase{"MiBOfDigits", S::Scrambled, MiB, true, {}},
                      TLoadCase{"MiBAfterAValidLine", S::Scrambled, "12\r\n" + MiB, true, 12},
                      TLoadCase{"FirstLineLongerThanWhatIsRead", S::Scrambled, std::string(70, '0') + "12\r\n",
                                true, {}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(SettingsFile, SaveIntoAMissingDataFolderFailsAndDoesNotMakeIt)
{
  EXPECT_FALSE(TPortSettingsFile(SettingsPath()).Save(12));
  EXPECT_FALSE(fs::exists(Data()));
}

TEST_F(SettingsFile, SaveOverAFolderFails)
{
  fs::create_directories(SettingsPath());
  EXPECT_FALSE(TPortSettingsFile(SettingsPath()).Save(12));
}

TEST_F(SettingsFile, SaveOntoAFullDiskFails)
{
  if (!fs::exists("/dev/full"))
    GTEST_SKIP() << "no /dev/full to stand for a full disk";
  EXPECT_FALSE(TPortSettingsFile("/dev/full").Save(12));
}

TEST_F(SettingsFile, SaveIntoAReadOnlyDataFolderFails)
{
  MakeData();
  fs::permissions(Data(), fs::perms::owner_read | fs::perms::owner_exec);
  if (std::ofstream(Data() / "probe").is_open())
    GTEST_SKIP() << "this user may write into a read-only folder (root), so the case cannot be staged";
  EXPECT_FALSE(TPortSettingsFile(SettingsPath()).Save(12));
  EXPECT_FALSE(fs::exists(SettingsPath()));
}

// TDataFolder: where the window and ozmetctl keep the file. Paths starting with '/' are under the
// case's own folder, in which prog/ is the program's folder and blocked is a plain file.
TEST_F(SettingsFile, DataFolderRule)
{
  const struct {
    const char* Name;
    bool DataBeside;
    const char* ConfigHome; // nullptr: unset
    const char* Home;
    const char* Found;
    bool Problem;
  } cases[] = {
      {"DataBesideTheProgramWins", true, "/config", "/home", "/prog/Data", false},
      {"ElseInXdgConfigHome", false, "/config", "/home", "/config/ozmet/Data", false},
      {"XdgUnsetMeansHomeConfig", false, nullptr, "/home", "/home/.config/ozmet/Data", false},
      {"XdgEmptyCountsAsUnset", false, "", "/home", "/home/.config/ozmet/Data", false},
      {"XdgRelativeCountsAsUnset", false, "config", "/home", "/home/.config/ozmet/Data", false},
      {"CannotBeMade", false, "/blocked/config", "/home", "/blocked/config/ozmet/Data", true},
      {"NowhereToMakeIt", false, nullptr, nullptr, "/prog/Data", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const fs::path base = Root / c.Name;
    fs::create_directories(base / "prog");
    WriteRaw(base / "blocked", {});
    if (c.DataBeside)
      fs::create_directory(base / "prog" / "Data");
    const auto under = [&](const char* path) -> std::optional<std::string> {
      if (!path)
        return std::nullopt;
      return path[0] == '/' ? base.string() + path : std::string(path);
    };
    const std::optional<std::string> configHome = under(c.ConfigHome), home = under(c.Home);
    const auto find = [&] {
      return TDataFolder::Find((base / "prog").string(), configHome ? configHome->c_str() : nullptr,
                               home ? home->c_str() : nullptr);
    };
    const TDataFolder found = find();
    EXPECT_EQ(found.Path, base.string() + c.Found);
    EXPECT_EQ(found.Problem.empty(), !c.Problem) << found.Problem;
    EXPECT_EQ(fs::exists(base / "config"), std::string(c.Found).starts_with("/config")) << "made only when used";
    if (c.Problem || c.DataBeside)
      continue;
    // Made with port 1, as the build's own; found again later without being written over.
    EXPECT_EQ(TPortSettingsFile(found.Path + "/portp.dat").Load().PortNumber, 1);
    ASSERT_TRUE(TPortSettingsFile(found.Path + "/portp.dat").Save(7));
    EXPECT_EQ(find().Path, found.Path);
    EXPECT_EQ(TPortSettingsFile(found.Path + "/portp.dat").Load().PortNumber, 7);
  }
}

// PortDescription

struct TDescriptionCase {
  std::int32_t Port;
  std::uint8_t ByteSize;
  std::uint8_t StopBits;
  std::uint8_t Parity;
  const char* Expected;
};

void PrintTo(const TDescriptionCase& c, std::ostream* os) { *os << '"' << c.Expected << '"'; }

class Description : public ::testing::TestWithParam<TDescriptionCase> {};

TEST_P(Description, JoinsTheTextsOfTheCodes)
{
  const TDescriptionCase& c = GetParam();
  EXPECT_EQ(PortDescription(c.Port, c.ByteSize, c.StopBits, c.Parity), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, Description,
    ::testing::Values(TDescriptionCase{1, 3, 0, 0, "Com1;  8 bit, stop-bit: 1;  parity: none;  "},
                      TDescriptionCase{2, 2, 2, 1, "Com2;  7 bit, stop-bit: 2;  parity: odd;  "},
                      TDescriptionCase{3, 0, 1, 2, "Com3;  5 bit, stop-bit: 1,5;  parity: even;  "},
                      TDescriptionCase{4, 1, 0, 3, "Com4;  6 bit, stop-bit: 1;  parity: 1;  "},
                      TDescriptionCase{256, 3, 2, 4, "Com256;  8 bit, stop-bit: 2;  parity: 0;  "},
                      TDescriptionCase{5, 4, 1, 0, "Com5;  stop-bit: 1,5;  parity: none;  "},
                      TDescriptionCase{6, 3, 3, 1, "Com6;  8 bit, parity: odd;  "},
                      TDescriptionCase{7, 0, 0, 5, "Com7;  5 bit, stop-bit: 1;  "},
                      TDescriptionCase{8, 4, 3, 5, "Com8;  "},
                      TDescriptionCase{9, 255, 255, 255, "Com9;  "}));

} // namespace
