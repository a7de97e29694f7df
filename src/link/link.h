// One running copy of the link: the API both front ends (the window and the
// window-less run) use. It owns the MIDI bridge, the peer protocol of the session
// (its sockets, connection check and chat), the peer filter and the counters, and
// tells its front end what happens through signals. Reports that need the user's attention go through the
// message boxes it was given. Everything here runs on the loop's thread (the
// window's, or the window-less run's main thread), except the MIDI forwarding
// inside the bridge.
#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/device_lists.h"
#include "link/session_discovery.h"
#include "link/status_text.h"
#include "midi/held_notes.h"
#include "protocol/admission.h"
#include "protocol/classic/connection_monitor.h"
#include "protocol/peer_filter.h"
#include "protocol/peer_protocol.h"
#include "report/message_boxes.h"
#include "report/reporter.h"
#include "settings/preferences.h"
#include "settings/settings.h"

namespace strandlink::midi {
class MidiService;
}

namespace strandlink::link {

class MidiBridge;

struct Counts {
  std::uint64_t sent = 0;
  std::uint64_t received = 0;
  friend bool operator==(const Counts&, const Counts&) = default;
};

// The choices of a session beside its settings. Filled by field name
// (designated initialisers), so a new field may go anywhere.
struct SessionOptions {
  bool thru = false;
  settings::Timing timing = settings::Timing::Immediate;
  int delayMs = 0;  // steady timing's delay; 0: one period of the output
  // The devices of the last Start, by name, for the stored positions.
  settings::RememberedPorts remembered{};
  settings::Protocol protocol = settings::Protocol::Classic;
  int ttl = 1;  // for a protocol that sends to a group: how many routers its datagrams cross
  // Publish the session on the network while it runs (the front ends ask for it;
  // tests and the demo do not), under this name (empty: the host name).
  bool publish = false;
  QString name{};
  // A peer's session named instead of addressed: looked up at Start (for a short
  // while), its address and port then stand for the settings' remote ones.
  QString remoteSession{};
  // Who may invite this side, and the inviters let in: addresses, host names
  // (looked up at Start) and session names.
  settings::Admission admission = settings::Admission::Anyone;
  QStringList allowed{};
  // The classic link's shared key; empty: none.
  std::vector<std::uint8_t> key{};
  // What a Network MIDI 2.0 link proves or asks for (see protocol::PeerStart).
  QString user{};
  QString secret{};
  std::map<std::string, std::string> users{};
  // Further peers to invite beside the settings' remote (RTP-MIDI: --remote again).
  std::vector<protocol::RemoteText> moreRemotes{};
};

// How long a Start looks for a session named as the remote.
inline constexpr std::chrono::milliseconds kSessionLookupWait{2000};

// The longest chat line a peer reads, in bytes (one per character): the front
// ends take no more, and a longer line is cut to it before it is sent.
inline constexpr int kChatLineLimit = 2000;

// A chat line as it went out.
struct SentChatLine {
  bool sent = false;  // false: no session runs, nothing was sent
  QString text;       // what the peer gets: characters outside ISO 8859-1 as "?", cut to the limit
  bool cut = false;   // the line was longer than kChatLineLimit
};

class Link : public QObject, private protocol::PeerSink {
  Q_OBJECT
 public:
  Link(midi::MidiService& midi, report::MessageBoxes& boxes, QObject* parent = nullptr);
  ~Link() override;

  // Takes the device lists; start-up does this once, before any settings apply
  // (followDeviceLists() takes them again later).
  void takeDeviceLists();
  // Empty lists mean no MIDI service runs: says so in a box, and whether it did.
  bool reportNoMidiService();
  const DeviceLists& devices() const { return lists_; }
  // While no session runs, the lists follow ports that come and go (checked twice
  // a second): devicesChanged() after each change. Off until turned on.
  void followDeviceLists(bool on);

  // Whether thru may join these two devices; shows the warning when it may not.
  bool thruAllowed(int inputPosition, int outputPosition);
  // Checks the settings, starts the chosen peer protocol, opens both devices and
  // starts the session; true when it runs. On failure every problem has been
  // reported and nothing is left open.
  bool start(const settings::Settings& settings, const SessionOptions& options = {});
  // The value the last Start was refused for: None after a Start that ran or
  // failed for another reason (a device, thru).
  protocol::SettingsField startProblem() const { return startProblem_; }
  // The devices the running (or last) session opened: their positions and full
  // names, to be remembered for the next Start.
  settings::RememberedPorts sessionPorts() const { return sessionPorts_; }
  // Ends a running session: the input, then the output, then the protocol.
  void stop();
  // Closes whatever is still open, each part on its own (the end of the program).
  void shutDown();
  // The program is ending: a Start looking for the remote session (now or later)
  // fails at once, without a box.
  void abandonStart() { discovery_.abandonFinds(); }
  bool running() const { return running_; }

  // Whether the chosen devices went away or came back; the session does this once
  // a second by itself.
  void checkDevices();

  protocol::LinkStatus status() const { return protocol_->status(); }
  // What the running session lacks now (the MIDI service, a chosen device).
  Missing missing() const { return running_ ? missing_ : Missing{}; }
  // The status line: "Connected", "Not Connected", with what is missing.
  QString statusText() const;
  // Sends one chat line to the peer as it will read it: one byte per character,
  // cut to the limit, and a line of one character with a blank after it, as one
  // byte alone is a control byte of the connection check to the peer.
  SentChatLine sendChatLine(const QString& line);
  // Releases every note sounding on our output, and sends the peer note-offs for
  // the notes our input sent it that are still held; what that sent.
  midi::Released panic();
  void setPeerFilter(bool on) { filter_.setEnabled(on); }
  bool peerFilter() const { return filter_.enabled(); }
  // The user's answer about an inviter that asked (inviterAsks()): "always" also
  // lists its address in strandlink.conf.
  void answerInviter(const protocol::Inviter& inviter, protocol::InviterAnswer answer);
  Counts counts() const;
  // Datagrams the peer filter refused in this session.
  std::uint64_t refusedDatagrams() const { return filter_.refused(); }
  // The session and its peer as the status line tells them (statusWords()).
  LinkState state();
  // The figures as numbers, of the last minute and of the session so far.
  protocol::LinkFigures figures() { return protocol_->figures(); }
  // "Link: rtt ..." for the figures of the last minute; empty before the first.
  QString figuresText();
  // "Round trip ..., ...% lost": the same figures in short.
  QString figuresSummary();

  report::Reporter& reporter() { return reporter_; }
  // Publishing and browsing on the network (the window's Find list browses here).
  SessionDiscovery& discovery() { return discovery_; }
  // The clock of the protocols' timeouts, monotonic µs; tests replace it before
  // a Start to move time on.
  void setClock(std::function<std::int64_t()> now) { clock_ = std::move(now); }

  // The counts reach the front end at most this often while a session runs.
  static constexpr int kCountsRefreshMs = 40;

 signals:
  // A Start found that the system will not make a socket (its boxes have been
  // shown); whether that ends the program is the front end's to decide.
  void cannotGoOn();
  void runningChanged(bool running);
  // The peer's answer changed, or what the session lacks (statusText() says both).
  void statusChanged(strandlink::protocol::LinkStatus status);
  void chatLineReceived(const QString& line);
  void countsChanged(strandlink::link::Counts counts);
  void figuresChanged(const QString& text);
  // During start(): a device is opened by its remembered name, at another position
  // than the settings give (deviceMoveText() says it in words).
  void deviceFollowed(const strandlink::link::DeviceMove& move);
  // The lists were taken again while no session ran; before: the lists until now.
  void devicesChanged(const strandlink::link::DeviceLists& before);
  // A line for the user that needs no box (datagrams too long for a port; a peer
  // on another protocol; discovery is off; the published name was taken).
  void noticed(const QString& line);
  // An inviter this side does not know waits to be let in (answerInviter()).
  void inviterAsks(const strandlink::protocol::Inviter& inviter);
  // During start(): the session named as the remote was found there.
  void remoteSessionFound(const QString& name, const QString& address, quint16 port);

 private:
  // The protocol's reports (PeerSink).
  void peerEvent(midi::MidiEventView event, std::optional<std::uint32_t> stampMicros, std::int64_t arrivalMicros,
                 std::size_t source) override;
  void peerStatus(protocol::LinkStatus status) override;
  void peerMemberGone(const midi::HeldSet& sounding) override;
  void peerChatLine(const QString& line) override;
  void peerNotice(const protocol::PeerNotice& notice) override;
  void peerProblem(const protocol::PeerProblem& problem) override;
  void peerFiguresChanged() override;
  // Starts the protocol of that kind, made anew only when the kind changed (the
  // connection check keeps what it knows between sessions); false when it did not run.
  bool startProtocol(settings::Protocol kind, const settings::Settings& settings, const SessionOptions& options);
  void emitCountsIfChanged();
  void refreshDeviceLists();
  void followRememberedNames(settings::Settings& settings, const settings::RememberedPorts& remembered);
  bool lookUpRemoteSession(settings::Settings& settings, const SessionOptions& options);
  void admitFrom(const SessionOptions& options);

  DeviceLists lists_;
  report::Reporter reporter_;
  SessionDiscovery discovery_;
  midi::MidiService& midi_;
  protocol::PeerFilter filter_;
  protocol::Admission admission_;
  // Before the bridge: its MIDI thread sends through the protocol until the input
  // is closed, so the bridge must go first.
  std::unique_ptr<protocol::PeerProtocol> protocol_;
  // Protocols replaced while an input that would not close still ran (its thread
  // may still send through one); destroyed once no input is open.
  std::vector<std::unique_ptr<protocol::PeerProtocol>> retiredProtocols_;
  std::optional<settings::Protocol> protocolKind_;  // none: the idle protocol
  std::unique_ptr<MidiBridge> bridge_;
  QTimer checkTimer_;
  QTimer deviceTimer_;
  QTimer countsTimer_;
  QTimer listTimer_;
  std::uint64_t received_ = 0;
  Counts shownCounts_;
  bool running_ = false;
  bool ending_ = false;  // shutDown() ran: nothing more reaches the front end
  protocol::SettingsField startProblem_ = protocol::SettingsField::None;
  settings::RememberedPorts sessionPorts_;
  Missing missing_;
  // Of the running (or last) session: no remote given, so a peer must invite it;
  // the name it offers; the remote as the settings give it.
  bool waitsForInvitation_ = false;
  QString ownName_;
  QString remoteAddress_;
  std::function<std::int64_t()> clock_ = monotonicMicros;
};

}  // namespace strandlink::link
