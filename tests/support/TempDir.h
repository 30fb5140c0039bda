#pragma once

#include <string>

// A fresh directory under /tmp, removed with everything in it at the end of the test.
class TTempDir {
public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  const std::string& Path() const { return Dir; }
  // Makes Path()/name a symbolic link to target.
  void Link(const std::string& name, const std::string& target) const;

private:
  std::string Dir;
};
