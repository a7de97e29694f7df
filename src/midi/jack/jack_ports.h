// An open input and an open output on our JACK client. Each is a connection of
// our "in" or "out" port to the chosen device (none for our own port's entry), so
// opening and closing never register or unregister a port.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "midi/jack/jack_host.h"
#include "midi/midi_service.h"

namespace strandlink::midi::jack {

class JackInput final : public MidiInput {
 public:
  // The host's input must already be attached to the handler and connected.
  explicit JackInput(std::shared_ptr<JackHost> host) : host_(std::move(host)) {}
  ~JackInput() override;
  JackInput(const JackInput&) = delete;
  JackInput& operator=(const JackInput&) = delete;

  MidiError start() override;
  MidiError stop() override;
  MidiError close() override;
  std::uint64_t droppedMessages() const override { return host_->cycle().droppedMessages(); }

 private:
  std::shared_ptr<JackHost> host_;
  std::atomic<bool> open_{true};
};

class JackOutput final : public MidiOutput {
 public:
  // The host's output must already be taken and connected.
  explicit JackOutput(std::shared_ptr<JackHost> host) : host_(std::move(host)) {}
  ~JackOutput() override;
  JackOutput(const JackOutput&) = delete;
  JackOutput& operator=(const JackOutput&) = delete;

  using MidiOutput::send;
  using MidiOutput::sendAt;
  MidiError send(MidiEventView message) override;
  MidiError sendAt(MidiEventView message, std::int64_t playMicros) override;
  std::int64_t periodMicros() const override { return host_->cycle().periodMicros(); }
  MidiError close() override;

 private:
  std::shared_ptr<JackHost> host_;
  std::atomic<bool> open_{true};
};

}  // namespace strandlink::midi::jack
