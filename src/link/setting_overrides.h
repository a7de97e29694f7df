// Settings given on the command line. Each one replaces the matching value after
// the settings file (if one is loaded); both front ends resolve them here, against
// the device lists their start-up took.
#pragma once

#include <QString>

#include <optional>

#include "settings/preferences.h"
#include "settings/settings.h"

namespace strandlink::link {

struct DeviceLists;

struct SettingOverrides {
  std::optional<QString> localHost, localPort, remoteHost, remotePort;
  // A list position ("0") or a full or unique partial port name.
  std::optional<QString> input, output;
  std::optional<bool> highPriority;
  // Not settings-file values but remembered choices: given, they replace the
  // remembered ones (and are remembered).
  std::optional<settings::Timing> timing;
  std::optional<int> delayMs;
  std::optional<settings::Protocol> protocol;
};

struct ResolvedOverrides {
  settings::SettingsChanges changes;
  // Empty, or one line that names the flag ("--input: ..."); changes are then empty.
  QString error;
};

ResolvedOverrides resolveOverrides(const SettingOverrides& overrides, const DeviceLists& lists);

}  // namespace strandlink::link
