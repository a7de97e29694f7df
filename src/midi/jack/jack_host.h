// Our one JACK client: named after the program's instance, with one MIDI input
// port "in" and one MIDI output port "out", registered once when the client is
// made. Opening a device connects one of these ports to it and closing
// disconnects, so Stop and a device that comes back change connections only: no
// port or client comes or goes while a process cycle may run. The client is
// deactivated before it is closed, and nothing the cycle uses is freed before.
//
// When the server goes away, libjack says so once; a new client with the same
// name, the same ports and the chosen connections is made when one answers again.
// Window thread, unless said otherwise.
#pragma once

#include <jack/jack.h>

#include <atomic>
#include <string>
#include <vector>

#include "midi/jack/jack_cycle.h"

namespace strandlink::midi::jack {

class JackHost {
 public:
  explicit JackHost(std::string clientName) : requestedName_(std::move(clientName)) {}
  ~JackHost() { close(); }
  JackHost(const JackHost&) = delete;
  JackHost& operator=(const JackHost&) = delete;

  // Makes, registers and activates a new client and connects it to the chosen
  // devices; false when no server answers. Never starts a server.
  bool open();
  // Deactivates, then closes the client, a dead one too.
  void close();
  // Whether a client runs whose server has not gone away.
  bool alive() const { return client_ != nullptr && !shutDown_.load(); }
  // Whether the server of the client went away (libjack's thread says so).
  bool lost() const { return client_ != nullptr && shutDown_.load(); }

  // Full names of our ports ("NAME:in", "NAME:out"); kept while the server is away.
  const std::string& inputName() const { return inputName_; }
  const std::string& outputName() const { return outputName_; }
  // The name the server gave our client (empty before the first open).
  std::string clientName() const { return inputName_.substr(0, inputName_.rfind(':')); }
  // Full names of the other clients' MIDI ports that have these flags.
  std::vector<std::string> otherPorts(unsigned long flags) const;
  // Asks the server whether a port of this full name exists now.
  bool portExists(const std::string& fullName) const;

  // The device our input listens to, and the one our output plays to (empty: none,
  // only what other programs connect). Made now and again for every new client.
  MidiError connectInput(const std::string& source);
  void disconnectInput();
  MidiError connectOutput(const std::string& target);
  void disconnectOutput();

  // Once a second while a session runs: remembers which other programs' ports are
  // connected to ours, and after a server came back connects again each of those
  // that has come back too.
  void followOtherConnections();
  // Whether a port came or went (or the client is new) since the last call.
  bool takePortsChanged() { return portsChanged_.exchange(false); }

  JackCycle& cycle() { return cycle_; }
  const JackCycle& cycle() const { return cycle_; }

 private:
  static int onProcess(jack_nframes_t frames, void* self);
  static void onShutdown(jack_status_t code, const char* reason, void* self);
  static void onPlainShutdown(void* self);
  static void onPortRegistration(jack_port_id_t port, int registered, void* self);
  // Connects again each connection a lost server took whose ports are back.
  void connectLostConnections();
  // The connections of one of our ports to other programs' ports, beside the device's.
  void addOtherConnections(jack_port_t* port, const std::string& own, const std::string& device, bool ownIsSource);
  bool registerPorts();
  MidiError connect(const std::string& source, const std::string& destination);
  // Connects a device's port (none when empty) to ours and remembers it, so that
  // the connection is made again when the server comes back.
  MidiError connectDevice(const std::string& device, const std::string& source, const std::string& destination,
                          std::string& remembered);

  std::string requestedName_;
  std::string inputName_;
  std::string outputName_;
  std::string inputSource_;
  std::string outputTarget_;
  jack_client_t* client_ = nullptr;
  // Written before the client is activated, read by its real-time thread.
  std::atomic<jack_client_t*> cycleClient_{nullptr};
  std::atomic<jack_port_t*> in_{nullptr};
  std::atomic<jack_port_t*> out_{nullptr};
  std::atomic<bool> shutDown_{false};
  // Set by libjack's notification thread.
  std::atomic<bool> portsChanged_{true};
  struct Connection {
    std::string source, destination;
    friend bool operator==(const Connection&, const Connection&) = default;
  };
  // Other programs' connections to our ports as last seen, and those a lost server
  // took away that are not made again yet.
  std::vector<Connection> seenConnections_;
  std::vector<Connection> lostConnections_;
  JackCycle cycle_;
};

}  // namespace strandlink::midi::jack
