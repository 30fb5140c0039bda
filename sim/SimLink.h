#pragma once

#include <string>

// A symbolic link that gives the line's device a fixed name while the simulator runs. It replaces an
// older link but never a real file, and is removed on the way out only while it still points at the
// device, so it cannot take away the link of a newer simulator.
class TSimLink {
public:
  // Throws std::runtime_error or std::system_error when the link cannot be made.
  TSimLink(std::string path, std::string target);
  ~TSimLink();
  TSimLink(const TSimLink&) = delete;
  TSimLink& operator=(const TSimLink&) = delete;

private:
  std::string Path;
  std::string Target;
};
