#include "sequence/SequenceFile.h"

#include "bus/BusAddresses.h"
#include "bus/ControllerDrive.h"
#include "files/NumberFormat.h"
#include "files/Sha256.h"
#include "files/Utf8Text.h"
#include "files/WholeFile.h"
#include "motor/ParameterFile.h"
#include "motor/ValueReader.h"
#include "sequence/DocumentBounds.h"
#include "sequence/SequenceResult.h"
#include "sequence/YamlMap.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <limits>
#include <utility>

namespace {

using TCheckKind = TSequenceCheck::TKind;
using TStepKind = TSequenceStep::TKind;
using TKeys = TYamlMap::TKeys;

constexpr double MaxStepSeconds = 86400;
constexpr double MaxWithinSeconds = 3600;
constexpr std::int32_t MaxTimes = 1000000;
constexpr double ReachTolerancePercent = 5;

// The keys a step or a check takes, and those it must have.
struct TForm {
  TKeys Keys;
  TKeys Required;
};

// Where checks stand, and the kinds they may be there.
struct TCheckPlace {
  const char* Name;
  std::vector<TCheckKind> Kinds;
};

const TCheckPlace RunChecks{"a run's checks", {TCheckKind::Reach}};
const TCheckPlace StopChecks{"a stop's checks", {TCheckKind::Standstill}};
const TCheckPlace HoldChecks{"a hold's checks",
                             {TCheckKind::Speed, TCheckKind::Counter, TCheckKind::Feedback, TCheckKind::Direction,
                              TCheckKind::Missing}};
const TCheckPlace SequenceChecks{"the sequence's checks", {TCheckKind::Missing}};
const std::array<const TCheckPlace*, 4> CheckPlaces{&RunChecks, &StopChecks, &HoldChecks, &SequenceChecks};

struct TStepForm {
  TForm Fields;
  const TCheckPlace* Checks; // where its checks stand, if it takes them
};

// In the order of the kinds.
const std::array<TStepForm, 6> StepForms{{
    {{{"speed", "direction", "acceleration", "deceleration", "checks"}, {"speed"}}, &RunChecks},
    {{{"checks"}, {}}, &StopChecks},
    {{{}, {}}, nullptr},                                   // reverse
    {{{"seconds"}, {"seconds"}}, nullptr},                 // wait
    {{{"seconds", "checks"}, {"seconds"}}, &HoldChecks},   // hold
    {{{"times", "steps"}, {"times", "steps"}}, nullptr}}}; // repeat
const std::array<TForm, 7> CheckForms{{
    {{"tolerance", "settle", "of", "name"}, {"tolerance"}}, // speed
    {{"within", "tolerance", "name"}, {"within"}},          // reach
    {{"within", "name"}, {"within"}},                       // standstill
    {{"tolerance", "name"}, {"tolerance"}},                 // counter
    {{"settle", "name"}, {}},                               // feedback
    {{"settle", "name"}, {}},                               // direction
    {{"max", "name"}, {"max"}}}};                           // missing

// The panels' fields that a sequence sets, by the keys that set them.
constexpr std::array<std::pair<TField, std::string_view>, 6> FieldKeys{{{TField::Encoder, "encoder"},
                                                                        {TField::MaxSpeed, "max-speed"},
                                                                        {TField::GearRatio, "ratio"},
                                                                        {TField::Speed, "speed"},
                                                                        {TField::Accel, "acceleration"},
                                                                        {TField::Decel, "deceleration"}}};

template <class TKind>
TKeys Words(const std::vector<TKind>& kinds, const char* (*text)(TKind))
{
  TKeys words;
  for (const TKind kind : kinds)
    words.push_back(text(kind));
  return words;
}

template <class TKind, std::size_t Count>
std::optional<TKind> KindNamed(std::string_view word, const char* (*text)(TKind))
{
  for (std::size_t i = 0; i < Count; ++i)
    if (word == text(static_cast<TKind>(i)))
      return static_cast<TKind>(i);
  return std::nullopt;
}

std::string StepWords()
{
  std::vector<TStepKind> kinds;
  for (std::size_t i = 0; i < StepForms.size(); ++i)
    kinds.push_back(static_cast<TStepKind>(i));
  return TYamlMap::Listed(Words(kinds, StepKindText));
}

std::string Quoted(const std::string& text)
{
  return "\"" + text + "\"";
}

// A number that fits, or a refusal that says which would: "write seconds above 0, at most 3600".
// text is the value's, perhaps without a unit.
template <class TFits>
double NumberIn(const TYamlValue& value, const std::string& text, TFits fits, const std::string& allowed)
{
  double number = 0;
  if (!ParseReal(text, number))
    value.Refuse(Quoted(value.Text()) + " is not a number; write " + allowed);
  if (!fits(number))
    value.Refuse(Quoted(value.Text()) + " is not allowed; write " + allowed);
  return number;
}

template <class TFits>
double Number(const TYamlValue& value, TFits fits, const std::string& allowed)
{
  return NumberIn(value, value.Text(), fits, allowed);
}

std::int32_t Whole(const TYamlValue& value, std::int32_t low, std::int32_t high, const std::string& allowed)
{
  const std::optional<std::int32_t> whole = ParseValue(value.Text());
  if (!whole || *whole < low || *whole > high)
    value.Refuse(Quoted(value.Text()) + " is not allowed; write " + allowed);
  return *whole;
}

double Seconds(const TYamlValue& value, double most)
{
  return Number(value, [&](double s) { return 0 < s && s <= most; },
                "seconds above 0, at most " + FormatGeneral(most));
}

int Choice(const TYamlValue& value, const std::array<std::string_view, 2>& words)
{
  const std::string text = value.Text();
  const auto found = std::find(words.begin(), words.end(), text);
  if (found == words.end())
    value.Refuse(Quoted(text) + " is not allowed; write " + std::string(words[0]) + " or " + std::string(words[1]));
  return static_cast<int>(found - words.begin());
}

std::string Name(const TYamlValue& value)
{
  std::string text = value.Text();
  if (text.empty())
    value.Refuse("empty; write a name");
  return Printable(text);
}

// Rpm of the output shaft (revolutions for a counter), or a percentage of the set value.
void ReadTolerance(const TYamlValue& value, TSequenceCheck& check)
{
  std::string text = value.Text();
  check.Percent = text.ends_with('%');
  if (check.Percent)
    text.pop_back();
  const std::string unit = check.Kind == TCheckKind::Counter ? "revolutions" : "rpm";
  check.Tolerance = NumberIn(value, text, [&](double t) { return 0 <= t && (!check.Percent || t <= 100); },
                             unit + " from 0, or a percentage 0%..100%");
}

void ReadCheckField(const TYamlValue& value, TSequenceCheck& check, double holdSeconds)
{
  const std::string& key = value.Key();
  if (key == "name")
    check.Name = Name(value);
  else if (key == "tolerance")
    ReadTolerance(value, check);
  else if (key == "settle")
    check.Settle = Number(value, [&](double s) { return 0 <= s && s < holdSeconds; },
                          "seconds from 0, below the hold's " + FormatGeneral(holdSeconds));
  else if (key == "of")
    check.Mean = Choice(value, {"every", "mean"}) == 1;
  else if (key == "within")
    check.Within = Seconds(value, MaxWithinSeconds);
  else if (key == "max")
    check.Max = Whole(value, 0, std::numeric_limits<std::int32_t>::max(), "a whole number from 0");
}

// A step or a check: a bare word, or a map of one key, the word, to what it takes.
struct TKindItem {
  TYamlValue Word;
  TYamlValue Body;
};

TKindItem KindAndBody(const TYamlValue& item, const std::string& kinds)
{
  const YAML::Node& node = item.Node();
  if (node.IsScalar())
    return {item.At(node.Scalar(), node, node.Mark()), item.At(node.Scalar(), YAML::Node(), node.Mark())};
  if (!node.IsMap() || node.size() != 1 || !node.begin()->first.IsScalar())
    item.Refuse(item.Shape() + " where a word or a map of one key belongs; the kinds: " + kinds);
  const YAML::Node key = node.begin()->first;
  return {item.At(key.Scalar(), key, key.Mark()), item.At(key.Scalar(), node.begin()->second, key.Mark())};
}

// "only in a hold's checks or the sequence's checks"
std::string Homes(TCheckKind kind)
{
  std::string homes;
  for (const TCheckPlace* place : CheckPlaces)
    if (std::find(place->Kinds.begin(), place->Kinds.end(), kind) != place->Kinds.end())
      homes.append(homes.empty() ? "only in " : " or ").append(place->Name);
  return homes;
}

TSequenceCheck ReadCheck(const TYamlValue& item, const TCheckPlace& place, double holdSeconds)
{
  const std::string kinds = TYamlMap::Listed(Words(place.Kinds, CheckKindText));
  const auto [word, body] = KindAndBody(item, kinds);
  const std::optional<TCheckKind> kind = KindNamed<TCheckKind, CheckForms.size()>(word.Key(), CheckKindText);
  const std::string here = std::string("; ") + place.Name + " are " + kinds;
  if (!kind)
    word.Refuse("unknown check" + here);
  if (std::find(place.Kinds.begin(), place.Kinds.end(), *kind) == place.Kinds.end())
    word.Refuse(Homes(*kind) + here);

  const TForm& form = CheckForms[static_cast<std::size_t>(*kind)];
  const TYamlMap fields(body, form.Keys);
  fields.Require(form.Required);
  TSequenceCheck check{.Kind = *kind, .Name = word.Key(), .Where = item.Place()};
  if (*kind == TCheckKind::Reach)
    check.Tolerance = ReachTolerancePercent, check.Percent = true;
  for (const TYamlValue& value : fields.Values())
    ReadCheckField(value, check, holdSeconds);
  return check;
}

std::vector<TSequenceCheck> ReadChecks(const TYamlValue& list, const TCheckPlace& place, double holdSeconds)
{
  std::vector<TSequenceCheck> checks;
  for (const TYamlValue& item : list.Items())
    checks.push_back(ReadCheck(item, place, holdSeconds));
  return checks;
}

[[noreturn]] void RefuseField(const TYamlMap& fields, const TFieldFault& fault, const std::string& panel)
{
  const auto key = std::find_if(FieldKeys.begin(), FieldKeys.end(), [&](auto& k) { return k.first == fault.Field; });
  const TYamlValue value = fields.Get(key->second);
  value.Refuse(Quoted(value.Text()) + " refused by the " + panel + " panel: " + fault.Reason);
}

// What a run's speed is read against, and where what it changes is said.
struct TRunContext {
  const TMotorFields& Motor;
  std::vector<std::string>& Warnings;
};

std::vector<TSequenceStep> ReadSteps(const TYamlValue& list, const TRunContext& context);

// The speed the controllers get, as the panels would send it: refused where it is not what the file asks (above the
// motor's maximum, or no motion where motion is asked), said where the controller's speed step rounds it.
void CheckRunSpeed(const TYamlMap& fields, const TSequenceStep& step, const TRunContext& context)
{
  TControllerDrive drive;
  drive.ApplyMotor(context.Motor); // checked as it was read
  if (const std::optional<TFieldFault> fault = drive.ApplyWork(step.Work))
    RefuseField(fields, *fault, "operation");
  const TCommonDatas& datas = drive.Datas;
  const TYamlValue speed = fields.Get("speed");
  const std::int32_t asked = *ParseValue(step.Work.Speed);
  const double fastest = datas.MaxSpeedRps * 60.0 / datas.GearRatio;
  const double sent = std::trunc(datas.WorkSpeedRps * 60.0 / datas.GearRatio);
  const std::string stepText = "the controller's speed step is " + FormatGeneral(60.0 / datas.GearRatio) + " rpm";
  if (asked > fastest)
    speed.Refuse(std::to_string(asked) + " rpm is above the motor's maximum, " + FormatGeneral(fastest) +
                 " rpm behind its gearhead (max-speed " + context.Motor.MaxSpeed + ", ratio " +
                 context.Motor.GearRatio + ")");
  if (asked != 0 && datas.WorkSpeedRps == 0)
    speed.Refuse(std::to_string(asked) + " rpm would send no motion: " + stepText);
  if (sent != asked)
    context.Warnings.push_back(speed.Said("warning: " + std::to_string(asked) + " rpm asked, " + FormatGeneral(sent) +
                                          " rpm sent (" + stepText + "); the checks' limits are around " +
                                          std::to_string(asked) + " rpm"));
}

void ReadStepField(const TYamlValue& value, TSequenceStep& step, const TRunContext& context)
{
  const std::string& key = value.Key();
  if (key == "speed")
    step.Work.Speed = value.Text();
  else if (key == "direction")
    step.Work.Direction = Choice(value, {"forward", "backward"});
  else if (key == "acceleration")
    step.Work.Accel = value.Text();
  else if (key == "deceleration")
    step.Work.Decel = value.Text();
  else if (key == "seconds")
    step.Seconds = Seconds(value, MaxStepSeconds);
  else if (key == "times")
    step.Times = Whole(value, 1, MaxTimes, "a whole number 1.." + std::to_string(MaxTimes));
  else if (key == "steps")
    step.Steps = ReadSteps(value, context);
}

TSequenceStep ReadStep(const TYamlValue& item, const TRunContext& context)
{
  const auto [word, body] = KindAndBody(item, StepWords());
  const std::optional<TStepKind> kind = KindNamed<TStepKind, StepForms.size()>(word.Key(), StepKindText);
  if (!kind)
    word.Refuse("unknown step; the steps are " + StepWords());
  TSequenceStep step;
  step.Kind = *kind;
  step.Where = item.Place();
  if (*kind == TStepKind::Wait && body.Node().IsScalar()) {
    step.Seconds = Seconds(body, MaxStepSeconds);
    return step;
  }

  const TStepForm& form = StepForms[static_cast<std::size_t>(*kind)];
  const TYamlMap fields(body, form.Fields.Keys);
  fields.Require(form.Fields.Required);
  for (const TYamlValue& value : fields.Values())
    ReadStepField(value, step, context);
  if (*kind == TStepKind::Run)
    CheckRunSpeed(fields, step, context);
  // Last: a hold's checks settle within its seconds, wherever they stand.
  if (const std::optional<TYamlValue> checks = fields.Find("checks"))
    step.Checks = ReadChecks(*checks, *form.Checks, step.Seconds);
  return step;
}

std::vector<TSequenceStep> ReadSteps(const TYamlValue& list, const TRunContext& context)
{
  std::vector<TSequenceStep> steps;
  for (const TYamlValue& item : list.Items())
    steps.push_back(ReadStep(item, context));
  if (steps.empty())
    list.Refuse("an empty list; write one step or more: " + StepWords());
  return steps;
}

std::vector<std::uint8_t> ReadAddresses(const TYamlValue& value)
{
  const std::vector<TYamlValue> items = value.Node().IsSequence() ? value.Items() : std::vector{value};
  std::vector<std::uint8_t> addresses;
  for (const TYamlValue& item : items) {
    std::vector<std::uint8_t> more;
    try {
      more = TBusAddresses::Parse(item.Text());
    } catch (const std::invalid_argument& fault) {
      item.Refuse(fault.what());
    }
    for (const std::uint8_t address : more)
      if (std::find(addresses.begin(), addresses.end(), address) == addresses.end())
        addresses.push_back(address);
  }
  if (addresses.empty())
    value.Refuse("an empty list; write an address (5, $05, 0x05), a list [1, 2, $0A] or a text \"1-4,9\"");
  return addresses;
}

// Each controller gets its own address: the motor's is only a placeholder that the panel takes.
TMotorFields ReadMotor(const TYamlValue& value)
{
  const TYamlMap fields(value, {"encoder", "max-speed", "ratio"});
  const TMotorFields motor{"0", fields.Get("encoder").Text(), fields.Get("max-speed").Text(),
                           fields.Get("ratio").Text()};
  if (const std::optional<TFieldFault> fault = TControllerDrive().ApplyMotor(motor))
    RefuseField(fields, *fault, "motor");
  return motor;
}

// A relative path is the sequence file's neighbour, wherever the program runs.
TMotorFields LoadMotor(const TYamlValue& value, const std::string& sequencePath)
{
  const std::filesystem::path given = value.Text();
  const std::filesystem::path path =
      given.is_absolute() ? given : std::filesystem::path(sequencePath).parent_path() / given;
  const TParameterFile::TReadResult read = TParameterFile::Load(path.string());
  if (!read.Contents)
    value.Refuse(Quoted(value.Text()) + ": " + read.Error);
  TMotorFields motor = read.Contents->Motor;
  motor.Address = "0";
  if (const std::optional<TFieldFault> fault = TControllerDrive().ApplyMotor(motor))
    value.Refuse(Quoted(value.Text()) + ": its motor's ratio " + motor.GearRatio + " is " + fault->Reason);
  return motor;
}

TMotorFields ReadMotorOrParameters(const TYamlValue& document, const TYamlMap& top, const std::string& path)
{
  const std::optional<TYamlValue> motor = top.Find("motor"), parameters = top.Find("parameters");
  if (motor && parameters)
    parameters->Refuse("beside motor:; write one of motor: and parameters:");
  if (parameters)
    return LoadMotor(*parameters, path);
  if (!motor)
    document.Refuse("missing key \"motor\" or \"parameters\"; write one of them");
  return ReadMotor(*motor);
}

TSequence ReadSequence(const TYamlValue& document, const std::string& path)
{
  const TYamlMap top(document, {"name", "controllers", "motor", "parameters", "checks", "steps"});
  top.Require({"name", "controllers", "steps"});
  TSequence sequence;
  sequence.Name = Name(top.Get("name"));
  sequence.Addresses = ReadAddresses(top.Get("controllers"));
  sequence.Motor = ReadMotorOrParameters(document, top, path);
  if (const std::optional<TYamlValue> checks = top.Find("checks"))
    sequence.Checks = ReadChecks(*checks, SequenceChecks, 0);
  sequence.Steps = ReadSteps(top.Get("steps"), {sequence.Motor, sequence.Warnings});
  return sequence;
}

// The one document of the text; an empty text is a document without keys.
TYamlValue Document(const std::string& text, const std::string& path)
{
  std::vector<YAML::Node> documents;
  try {
    TDocumentBounds::Check(text, path);
    documents = YAML::LoadAll(text);
  } catch (const YAML::Exception& fault) {
    TYamlValue(path, "", YAML::Node(), fault.mark).Refuse("not YAML: " + fault.msg);
  }
  if (documents.size() > 1)
    TYamlValue(path, "", documents[1], documents[1].Mark()).Refuse("a second document; write one");
  const YAML::Node root = documents.empty() ? YAML::Node() : documents.front();
  return TYamlValue(path, "", root, root.Mark());
}

} // namespace

TSequence TSequenceFile::Load(const std::string& path)
{
  std::string text;
  if (const std::optional<std::string> error = ReadWholeFile(path, MaxFileBytes, "a test sequence", text))
    throw TSequenceError(*error);
  return Parse(text, path);
}

TSequence TSequenceFile::Parse(const std::string& text, const std::string& path)
{
  TSequence sequence = ReadSequence(Document(text, path), path);
  sequence.File = path;
  sequence.Sha256 = TSha256::Of(text);
  return sequence;
}
