// The sending half of a Network MIDI 2.0 link. Any thread hands MIDI over through
// a lock-free queue, already as packets; a thread of the sender's own gathers
// what waits into UMP Data commands, numbers them for each peer from 0, and sends
// every datagram with copies of that peer's two commands before it, so that a
// lost datagram is made good by the next. It keeps each peer's last commands to
// answer a request to send them again. While it has nothing to send it sends
// empty commands, 100 ms after the last and then ever less often, up to one in
// 2 s: a peer whose last datagrams were lost, however many, learns of the gap
// from the next one and asks.
#pragma once

#include <netinet/in.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <span>
#include <thread>
#include <vector>

#include "midi/midi_event.h"
#include "midi/word_queue.h"
#include "protocol/midi2/session.h"
#include "protocol/peer_protocol.h"

namespace strandlink::protocol::midi2 {

inline constexpr std::size_t kCopies = 2;         // of the latest commands in each datagram
inline constexpr std::size_t kKeptCommands = 64;  // a power of two: the resend buffer
inline constexpr std::size_t kCommandWords = 64;

class DataSender {
 public:
  DataSender();
  ~DataSender();
  DataSender(const DataSender&) = delete;
  DataSender& operator=(const DataSender&) = delete;

  // The loop's thread. Sends from socket (which outlives stop()); false (and the
  // error) when the wake-up or the thread cannot be made.
  bool start(int socket, net::SocketError& error);
  void stop();
  // The loop's thread: a session came up in slot (or began its numbering anew),
  // ended, or its peer asks for our commands from first (count; 0: all) again.
  void open(std::size_t slot, const Endpoint& peer);
  void close(std::size_t slot);
  void resend(std::size_t slot, std::uint16_t first, std::uint16_t count);
  // The loop's thread: a stream packet for one peer only.
  bool queueFor(std::size_t slot, std::span<const std::uint32_t> packet);

  // Any thread: never waits, locks or allocates. Failed when the queue is full;
  // NotCarried for a message that is not whole.
  SendResult queue(midi::MidiEventView event) noexcept;

  net::SocketError lastError() const { return lastError_.load(std::memory_order_relaxed); }
  std::uint64_t datagramsSent() const { return datagrams_.load(std::memory_order_relaxed); }
  std::uint64_t messagesSent() const { return messages_.load(std::memory_order_relaxed); }

 private:
  struct Item {
    std::array<std::uint32_t, 4> words{};
    std::uint8_t size = 0;
    std::uint8_t peerMask = 0xFF;  // the peers it goes to, one bit each
  };
  struct Control {
    enum Kind : std::uint8_t { Open, Close, Resend } kind = Open;
    std::uint8_t slot = 0;
    std::uint16_t first = 0;
    std::uint16_t count = 0;
    Endpoint peer;
  };
  struct Kept {
    std::uint16_t sequence = 0;
    std::uint8_t size = 0;
    std::array<std::uint32_t, kCommandWords> words{};
  };
  // What the sending thread keeps of one peer.
  struct Peer {
    bool open = false;
    sockaddr_in to{};
    std::uint16_t next = 0;  // the sequence number of the next command
    std::size_t kept = 0;    // commands in history, at most kKeptCommands
    std::array<Kept, kKeptCommands> history{};
    std::array<std::uint32_t, kCommandWords> building{};
    std::size_t built = 0;
    std::int64_t emptyAt = 0;  // the next empty command, on the monotonic clock in ms
    int emptyGapMs = 0;        // after it, the one after
  };

  void run();
  void wait(int timeoutMs);
  int sendDueEmpties(std::int64_t nowMs);
  void takeControl(const Control& c);
  void add(Peer& peer, const Item& item);
  void flush(Peer& peer);
  void sendCommand(Peer& peer, std::span<const std::uint32_t> words);
  void answerResend(Peer& peer, std::uint16_t first, std::uint16_t count);
  const Kept* keptAt(const Peer& peer, std::uint16_t sequence) const;
  void transmit(const Peer& peer);
  void wake() noexcept;

  midi::WordQueue<16384, Item> items_;
  midi::WordQueue<256, Control> controls_;
  int wake_ = -1;  // an eventfd
  int socket_ = -1;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> sleeping_{false};
  std::atomic<net::SocketError> lastError_{net::SocketError::Ok};
  std::atomic<std::uint64_t> datagrams_{0};
  std::atomic<std::uint64_t> messages_{0};
  // The sending thread's.
  std::array<Peer, kMaxClients> peers_{};
  std::vector<std::uint8_t> datagram_;
};

}  // namespace strandlink::protocol::midi2
