#pragma once

#include <string>

// The folder that keeps the settings file portp.dat and the COM<N> links. A Data folder beside the
// program wins (a build tree, a portable copy); an installed program, whose folder is /usr/bin, keeps
// its own in $XDG_CONFIG_HOME/ozmet/Data, else ~/.config/ozmet/Data, made at its first start.
// The window and ozmetctl both find it here, so they always agree on the port.
class TDataFolder {
public:
  std::string Path;
  // Empty when Path is a folder; otherwise why it could not be made. The caller still uses Path:
  // the settings file is then missing there and the operator gets the usual message.
  std::string Problem;

  // With the environment's XDG_CONFIG_HOME and HOME.
  static TDataFolder Find(const std::string& programDir);
  // configHome and home are the variables' values, nullptr when unset.
  static TDataFolder Find(const std::string& programDir, const char* configHome, const char* home);
};
