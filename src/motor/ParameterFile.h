#pragma once

#include "motor/PanelFields.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Both panels' parameters in a small INI file that an operator can read and edit:
//   # Ozmet console parameters
//   [motor]      address, encoder, max_speed, ratio
//   [operation]  speed, acceleration, deceleration, direction (forward|backward),
//                motion (continuous|timed), time (seconds; may be empty for a continuous motion)
// Values are the texts the panels receive, so the window fills its fields as typing would.
class TParameterFile {
public:
  struct TContents {
    TMotorFields Motor;
    TWorkFields Work;
  };
  // Contents when the file is taken, otherwise Error: "line 8: speed: outside 0..1500000",
  // "line 4: unknown key \"foo\"", "missing key ratio", "Cannot open <path>: <reason>".
  struct TReadResult {
    std::optional<TContents> Contents;
    std::string Error;
  };

  // A parameter file is a few hundred bytes; Load refuses more than this rather than reading a device.
  static constexpr std::size_t MaxFileBytes = 64 * 1024;

  // The file's text. Texts are written as they are, even those the panels refuse (Read then names
  // them), except that a line break inside a text is written as a blank.
  static std::string Write(const TMotorFields& motor, const TWorkFields& work);
  // Blank lines and whole-line '#' or ';' comments are allowed, blanks around keys and values are
  // ignored, and keys may come in any order within their section. A UTF-8 byte-order mark is skipped. Every key must be
  // present once. The values are checked as the panels' Apply checks them, the speed against the file's own ratio.
  static TReadResult Read(std::string_view text);

  // The fault the panels' Apply would find first, the speed checked against the ratio typed beside it.
  static std::optional<TFieldFault> FirstFault(const TMotorFields& motor, const TWorkFields& work);

  // Creates or replaces the file whole: a failed write leaves the previous file as it was. The error names the path and
  // the system's reason.
  static std::optional<std::string> Save(const std::string& path, const TMotorFields& motor, const TWorkFields& work);
  static TReadResult Load(const std::string& path);
};
