#pragma once

#include <stdexcept>
#include <string>

// Why a line driven one frame at a time cannot go on: the device would not open (the text says why,
// as the window says it), or the line failed under an exchange (the device hung up, a write failed).
class TLineError : public std::runtime_error {
public:
  enum class TKind { OpenFailed, LineFailed };

  TLineError(TKind kind, const std::string& message) : std::runtime_error(message), Kind(kind) {}

  const TKind Kind;
};
