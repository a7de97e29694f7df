// Choices remembered between runs that are not part of a settings file (whose
// seven records other copies of the program read as well): an INI file in the
// user's configuration directory, strandlink/strandlink.conf.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace strandlink::settings {

// The file: $XDG_CONFIG_HOME/strandlink/strandlink.conf.
QString preferencesPath();
// False when the file is there but no regular file (a FIFO would block whoever
// reads it): then every choice below is neither read nor written, and reads give
// what they give when nothing was remembered.
bool preferencesUsable();

// Off when nothing was remembered yet.
bool loadPeerFilter();
void savePeerFilter(bool on);

// Who may invite this side into a session: anyone, only the inviters listed, or
// (in the window) whoever the user allows when asked.
enum class Admission { Anyone, Listed, Ask };
// Nothing when nothing (or nothing known) was remembered: each front end has its own default.
std::optional<Admission> loadAdmission();
void saveAdmission(Admission admission);
// The inviters let in: IPv4 addresses, host names or session names, as given.
QStringList loadAllowed();
void saveAllowed(const QStringList& allowed);

// The further peers an RTP-MIDI session invites, each HOST:PORT as the user wrote it.
QStringList loadInviteAlso();
void saveInviteAlso(const QStringList& remotes);
// "anyone", "listed", "ask"; the command line and strandlink.conf spell them so.
QString admissionName(Admission admission);
std::optional<Admission> admissionFromName(const QString& name);

// The window's options that a settings file does not hold: each is off when
// nothing was remembered yet.
enum class WindowOption { MidiThru, UpdateStatistic, PopUpOnChat };
bool loadWindowOption(WindowOption option);
void saveWindowOption(WindowOption option, bool on);

// The folder File > Open or File > Save last chose a file in; empty when none was.
QString loadLastFolder();
void saveLastFolder(const QString& folder);

// When received messages are played: as soon as they arrive (immediate), or at a
// constant delay after the moment they were played on the other side (steady).
enum class Timing { Immediate, Steady };
// Immediate when nothing (or nothing known) was remembered.
Timing loadTiming();
void saveTiming(Timing timing);

// How the link talks to its peer: the classic datagrams (another copy of this
// program), RTP-MIDI (a Mac, an iPad, a Windows machine), raw MIDI to a
// multicast group (the gateways of a LAN) or Network MIDI 2.0 (Windows MIDI
// Services, MIDI 2.0 devices). Each has its row, in this order, in
// protocol/protocol_registry.cpp.
enum class Protocol { Classic, Rtp, Multicast, Midi2 };
// Stored by name, empty when none was: the protocols sit above this file, so
// link/protocol_choice.h maps names to values through their registry.
QString loadProtocolName();
void saveProtocolName(const QString& name);

// What tells this installation apart from others of the same name on a Network
// MIDI 2.0 link: made once, at the first ask, and kept (printable ASCII, at most
// 42 characters), so that a peer knows us again after a restart.
QString productInstanceId();

// The fixed delay of steady timing in milliseconds, 0 to kMaxDelayMs; 0 stands for
// one period of the MIDI service, which is also the least delay there is.
inline constexpr int kMaxDelayMs = 1000;
int loadDelayMs();
void saveDelayMs(int ms);

// A device chosen at a Start: its position in the list then and its full port
// name, so that a device listed elsewhere after a reboot or a re-plug is found.
struct RememberedPort {
  int position = -1;  // -1: none remembered
  QString name;
  friend bool operator==(const RememberedPort&, const RememberedPort&) = default;
};
struct RememberedPorts {
  RememberedPort input;
  RememberedPort output;
  friend bool operator==(const RememberedPorts&, const RememberedPorts&) = default;
};
RememberedPorts loadRememberedPorts();
void saveRememberedPorts(const RememberedPorts& ports);

}  // namespace strandlink::settings
