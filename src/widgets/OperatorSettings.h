#pragma once

#include <QSettings>

// The operator's choices between runs: ~/.config/ozmet/ozmet.conf, kept apart from Data/portp.dat,
// whose format other tools rely on.
inline QSettings OperatorSettings()
{
  return QSettings("ozmet", "ozmet");
}
