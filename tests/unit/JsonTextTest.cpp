#include "files/JsonText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

// What a record's field or a --json line holds, as the line writes it.
TEST(JsonText, WritesTextsAndNumbersAsRecordsKeepThem)
{
  const struct {
    const char* Name;
    TJsonText::TValue Value;
    const char* Line;
  } cases[] = {
      {"quote, backslash, newline", TJsonText::Text("a\"b\\c\nd"), R"("a\"b\\c\nd")"},
      {"control character", TJsonText::Text(std::string("\x01", 1)), R"("\u0001")"},
      {"UTF-8 beyond ASCII escaped", TJsonText::Text("Pr\xC3\xBC" "fung"), R"("Pr\u00fcfung")"},
      {"bytes that are no UTF-8 keep their number", TJsonText::Text("/dev/\xff\xfe"), R"("/dev/\u00ff\u00fe")"},
      {"a lone continuation byte", TJsonText::Text("a\x80z"), R"("a\u0080z")"},
      {"a whole number without a fraction", TJsonText::Number(600.0), "600"},
      {"negative zero", TJsonText::Number(-0.0), "0"},
      {"a fraction", TJsonText::Number(100.8), "100.8"},
      {"15 significant digits", TJsonText::Number(0.1 + 0.2), "0.3"},
      {"a large value", TJsonText::Number(1e20), "1e+20"},
      {"nothing", TJsonText::Number(std::nullopt), "null"},
      {"not a number", TJsonText::Number(std::nan("")), "null"},
      {"infinity", TJsonText::Number(std::numeric_limits<double>::infinity()), "null"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TJsonText::Line(c.Value), c.Line) << c.Name;
}

} // namespace
