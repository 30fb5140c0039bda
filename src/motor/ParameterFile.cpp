#include "motor/ParameterFile.h"

#include "files/NumberFormat.h"
#include "files/WholeFile.h"
#include "motor/MotorParameters.h"
#include "motor/WorkParameters.h"

#include <algorithm>
#include <array>
#include <utility>

namespace {

using TResult = TParameterFile::TReadResult;
using TWords = std::array<std::string_view, 2>;

constexpr std::string_view Heading = "# Ozmet console parameters";
constexpr std::string_view Utf8Mark = "\xEF\xBB\xBF";
constexpr TWords Sections{"motor", "operation"};
constexpr TWords DirectionWords{"forward", "backward"};
constexpr TWords MotionWords{"continuous", "timed"};

struct TKey {
  std::size_t Section;
  std::string_view Name;
};

// In TField's order, so a field's fault finds its key; Write lists them in this order.
constexpr std::array<TKey, 10> Keys{{{0, "address"},
                                     {0, "encoder"},
                                     {0, "max_speed"},
                                     {0, "ratio"},
                                     {1, "speed"},
                                     {1, "acceleration"},
                                     {1, "deceleration"},
                                     {1, "direction"},
                                     {1, "motion"},
                                     {1, "time"}}};
static_assert(Keys.size() == static_cast<std::size_t>(TField::Time) + 1);

using TTexts = std::array<std::string, Keys.size()>;
using TLines = std::array<int, Keys.size()>;

std::size_t Index(TField field)
{
  return static_cast<std::size_t>(field);
}

// Only item 1 is the second word, as only item 1 is backward or timed in the panel.
std::string Word(const TWords& words, int item)
{
  return std::string(words[item == 1]);
}

std::optional<int> Item(const TWords& words, std::string_view word)
{
  const auto found = std::find(words.begin(), words.end(), word);
  if (found == words.end())
    return std::nullopt;
  return static_cast<int>(found - words.begin());
}

TTexts Texts(const TMotorFields& m, const TWorkFields& w)
{
  return {m.Address,
          m.Encoder,
          m.MaxSpeed,
          m.GearRatio,
          w.Speed,
          w.Accel,
          w.Decel,
          Word(DirectionWords, w.Direction),
          Word(MotionWords, w.MotionType),
          w.Time};
}

// "\r" too, so a file saved with CR LF reads the same.
std::string_view Trim(std::string_view text)
{
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos)
    return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

TResult Refused(std::string error)
{
  return {std::nullopt, std::move(error)};
}

TResult RefusedAt(int line, const std::string& what)
{
  return Refused("line " + std::to_string(line) + ": " + what);
}

TResult RefusedField(const TFieldFault& fault, const TLines& lines)
{
  const std::size_t i = Index(fault.Field);
  return RefusedAt(lines[i], std::string(Keys[i].Name) + ": " + fault.Reason);
}

// Every key is present; the values are checked in the panels' own order, the motor panel first,
// since the operation speed is checked against the file's ratio.
TResult Checked(const TTexts& texts, const TLines& lines)
{
  const auto text = [&](TField field) { return texts[Index(field)]; };
  TParameterFile::TContents contents;
  contents.Motor = {text(TField::Address), text(TField::Encoder), text(TField::MaxSpeed), text(TField::GearRatio)};
  if (const auto fault = TMotorParameters::FirstFault(contents.Motor))
    return RefusedField(*fault, lines);

  const std::optional<int> direction = Item(DirectionWords, text(TField::Direction));
  const std::optional<int> motion = Item(MotionWords, text(TField::MotionType));
  if (!direction)
    return RefusedField({TField::Direction, "", "not forward or backward"}, lines);
  if (!motion)
    return RefusedField({TField::MotionType, "", "not continuous or timed"}, lines);
  contents.Work = {text(TField::Speed), text(TField::Accel), text(TField::Decel),
                   text(TField::Time),  *direction,          *motion};

  double ratio = 0;
  ParseReal(contents.Motor.GearRatio, ratio); // the motor check has taken it
  if (const auto fault = TWorkParameters::FirstFault(contents.Work, ratio))
    return RefusedField(*fault, lines);
  return {std::move(contents), ""};
}

} // namespace

std::string TParameterFile::Write(const TMotorFields& motor, const TWorkFields& work)
{
  const TTexts texts = Texts(motor, work);
  std::string file = std::string(Heading) + "\n";
  for (std::size_t i = 0; i < Keys.size(); ++i) {
    if (i == 0 || Keys[i].Section != Keys[i - 1].Section)
      file.append("[").append(Sections[Keys[i].Section]).append("]\n");
    std::string value = texts[i];
    // A text must not start a line of its own, which could be read as another key.
    std::replace_if(
        value.begin(), value.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    file += std::string(Keys[i].Name) + "=" + value + "\n";
  }
  return file;
}

TParameterFile::TReadResult TParameterFile::Read(std::string_view text)
{
  // Editors on other systems often start a UTF-8 file with a byte-order mark.
  if (text.starts_with(Utf8Mark))
    text.remove_prefix(Utf8Mark.size());
  TTexts texts;
  TLines lines{}; // 0: not met yet
  std::optional<std::size_t> section;
  for (int number = 1; !text.empty(); ++number) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    const std::string_view line = Trim(text.substr(0, end));
    text.remove_prefix(std::min(end + 1, text.size()));
    if (line.empty() || line.front() == '#' || line.front() == ';')
      continue;

    if (line.front() == '[' && line.back() == ']') {
      const std::string_view name = line.substr(1, line.size() - 2);
      const auto found = std::find(Sections.begin(), Sections.end(), name);
      if (found == Sections.end())
        return RefusedAt(number, "unknown section \"" + std::string(line) + "\"");
      section = static_cast<std::size_t>(found - Sections.begin());
      continue;
    }

    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos)
      return RefusedAt(number, "not a key=value line");
    const std::string name(Trim(line.substr(0, equals)));
    const auto key =
        std::find_if(Keys.begin(), Keys.end(), [&](const TKey& k) { return k.Section == section && k.Name == name; });
    if (key == Keys.end())
      return RefusedAt(number, "unknown key \"" + name + "\"");
    const std::size_t i = static_cast<std::size_t>(key - Keys.begin());
    if (lines[i] != 0)
      return RefusedAt(number, "duplicate key \"" + name + "\" (first on line " + std::to_string(lines[i]) + ")");
    lines[i] = number;
    texts[i] = Trim(line.substr(equals + 1));
  }

  for (std::size_t i = 0; i < Keys.size(); ++i)
    if (lines[i] == 0)
      return Refused("missing key " + std::string(Keys[i].Name));
  return Checked(texts, lines);
}

std::optional<TFieldFault> TParameterFile::FirstFault(const TMotorFields& motor, const TWorkFields& work)
{
  if (auto fault = TMotorParameters::FirstFault(motor))
    return fault;
  double ratio = 0;
  ParseReal(motor.GearRatio, ratio); // the motor check has taken it
  return TWorkParameters::FirstFault(work, ratio);
}

std::optional<std::string> TParameterFile::Save(const std::string& path, const TMotorFields& motor,
                                                const TWorkFields& work)
{
  return WriteWholeFile(path, Write(motor, work));
}

TParameterFile::TReadResult TParameterFile::Load(const std::string& path)
{
  std::string text;
  if (std::optional<std::string> error = ReadWholeFile(path, MaxFileBytes, "a parameter file", text))
    return Refused(std::move(*error));
  return Read(text);
}
