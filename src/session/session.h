// One running copy of the bridge: the shared state, the window it talks to, the
// services it uses and the objects a session owns (sockets' notifiers, MIDI ports,
// the connection timer). The design's procedures are free functions over it, in
// the subsystem folders; the window and the window-less run each hold one.
#pragma once

#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "midi/held_notes.h"
#include "midi/midi_service.h"
#include "net/link_quality.h"
#include "net/socket_service.h"
#include "session/message_boxes.h"
#include "session/reporter.h"
#include "session/session_state.h"
#include "session/session_view.h"
#include "session/window_wake.h"

namespace strandlink {

// Work the MIDI thread hands to the window's thread.
enum WakeBits : std::uint32_t {
  kWakeSentCount = 1u << 0,   // show MidiEventsSent in txtSent
  kWakeSendError = 1u << 1,   // report a failed MIDI send (error in midiSendError)
};

class Session : public midi::MidiInputHandler {
 public:
  Session(SessionState& state, SessionView& view, MessageBoxes& boxes, midi::MidiService& midi);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  SessionState& state;
  SessionView& view;
  Reporter reporter;
  midi::MidiService& midi;

  // Read notifications of the two sockets; present while the sockets are open.
  std::unique_ptr<net::ReadNotifier> midiNotifier;
  std::unique_ptr<net::ReadNotifier> chatNotifier;

  // Owners of the ports that hMidiIn and hMidiOut point to.
  std::unique_ptr<midi::MidiInput> midiIn;
  std::unique_ptr<midi::MidiOutput> midiOut;

  // Datagrams only from the remote host's address; those refused (window thread only).
  bool peerFilter = false;
  std::uint64_t rejectedDatagrams = 0;

  // Round trips and losses of the connection check (window thread only).
  net::LinkQuality link;

  // What the output holds because of received messages (window thread only).
  midi::HeldNotes held;

  QTimer tmrCeckConnection;
  // Once a second while a session runs: have the chosen devices gone or come back?
  QTimer tmrDeviceCheck;
  bool inputGone = false;
  bool outputGone = false;
  // Outputs replaced while the input ran (the MIDI thread may still hold one);
  // destroyed once the input is closed.
  std::vector<std::unique_ptr<midi::MidiOutput>> retiredOutputs;
  WindowWake wake;
  std::atomic<int> midiSendError{0};

  // Ends the program at once on the fatal socket paths (exit status 1). Tests
  // replace it with a recorder; when it returns, the failed step returns too.
  std::function<void()> fatalExit;

  // MIDI thread: the input's messages.
  void onMidiMessage(const midi::ShortMessage& message, std::int64_t timeMicros) override;

  // Runs the window-thread side of whatever the MIDI thread handed over.
  void onWake(std::uint32_t bits);

  // The counters reach their boxes at most every kCountsRefreshMs: a repaint per
  // datagram would cost the window's thread far more than the datagram itself and
  // hold up the next one.
  void showCountsSoon(bool sent, bool received);
  void forgetPendingCounts();
  static constexpr int kCountsRefreshMs = 40;

 private:
  void showPendingCounts();
  QTimer countsRefresh_;
  bool sentPending_ = false;
  bool receivedPending_ = false;
};

}  // namespace strandlink
