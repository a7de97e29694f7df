// The command line of the one executable: a window by default, or a window-less link.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

#include "link/setting_overrides.h"
#include "protocol/peer_protocol.h"
#include "settings/preferences.h"

namespace strandlink::app {

struct CommandLine {
  enum class Mode { Window, Headless, ListDevices, ListPeers, SaveSettings, Demo, Help, Version, Error };
  Mode mode = Mode::Window;
  QString settingsFile;                               // empty: the default file
  QString clientName = QStringLiteral("Strandlink");  // how our MIDI ports appear
  QString error;                                      // one line, for Mode::Error
  std::optional<bool> peerFilter;                     // --peer-filter / --no-peer-filter
  bool thru = false;                                  // --thru: the input played on our own output too
  link::SettingOverrides overrides;                   // --local ... --priority, --timing, --delay
  QString saveSettingsFile;                           // for Mode::SaveSettings
  QString peerServiceType;                            // for Mode::ListPeers: the DNS-SD type browsed
  std::optional<int> ttl;                             // --ttl: how many routers a group's datagrams cross
  bool localWithoutPort = false;                      // --local ADDRESS alone, which only a group takes
  QString sessionName;                                // --name as given; empty: the host name
  QString remoteSession;                              // --remote NAME: a published session, not an address
  QStringList remoteValues;                           // every --remote, as given
  std::vector<protocol::RemoteText> moreRemotes;      // RTP-MIDI: the --remotes after the first, invited too
  std::optional<settings::Admission> admission;       // --admit, or listed when --allow is given
  QStringList allowed;                                // --allow, each as given
  QString keyFile;                                    // --key-file: the classic link's shared key
  QString user;                                       // --user: Network MIDI 2.0's user authentication
  QString passwordFile;                               // --password-file: that user's password
  QString secretFile;                                 // --secret-file: its shared secret
  QString usersFile;                                  // --users-file: a host's users and passwords
  bool authenticates() const {
    return !user.isEmpty() || !passwordFile.isEmpty() || !secretFile.isEmpty() || !usersFile.isEmpty();
  }
};

// arguments include the program name first.
CommandLine parseCommandLine(const QStringList& arguments);

QString usageText();
// Every protocol's name, in their order, between them separator and before the last one last.
QString protocolNames(QLatin1StringView separator, QLatin1StringView last);

}  // namespace strandlink::app
