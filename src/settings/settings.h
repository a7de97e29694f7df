// The seven values that set up a link, as a settings file keeps them.
#pragma once

#include <QString>

#include <optional>

namespace strandlink::settings {

struct Settings {
  QString remoteHost;
  QString remotePort;
  QString localHost;
  QString localPort;
  // List positions: the output list starts with our own output port (device -1
  // to the file's readers), the input list with our own input port; -1 is none.
  int outputPosition = -1;
  int inputPosition = -1;
  bool highPriority = true;  // false: Realtime

  friend bool operator==(const Settings&, const Settings&) = default;
};

// Values read from a file, each only if a record set it (the later of two
// records with the same key stands).
struct SettingsChanges {
  std::optional<QString> remoteHost;
  std::optional<QString> remotePort;
  std::optional<QString> localHost;
  std::optional<QString> localPort;
  std::optional<int> outputPosition;
  std::optional<int> inputPosition;
  std::optional<bool> highPriority;

  void applyTo(Settings& s) const;
};

}  // namespace strandlink::settings
