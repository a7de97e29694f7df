#include "midi/alsa/rtmidi_backend.h"

#include <algorithm>
#include <cstring>

namespace strandlink::midi::alsa {

// Any thread RtMidi reports on. Keeps the first report only; the text is copied
// into a fixed buffer, so reporting allocates nothing.
void RtMidiErrors::callback(RtMidiError::Type type, const std::string& text, void* self) {
  auto& errors = *static_cast<RtMidiErrors*>(self);
  if (type == RtMidiError::DEBUG_WARNING) return;
  if (errors.ignoring_.load(std::memory_order_acquire)) return;
  int expected = kEmpty;
  if (!errors.state_.compare_exchange_strong(expected, kWriting, std::memory_order_acq_rel)) return;
  errors.type_ = type;
  const std::size_t n = std::min(text.size(), sizeof errors.text_ - 1);
  std::memcpy(errors.text_, text.data(), n);
  errors.text_[n] = '\0';
  errors.state_.store(kWritten, std::memory_order_release);
}

RtMidiError::Type RtMidiErrors::type() const {
  return state_.load(std::memory_order_acquire) == kWritten ? type_ : RtMidiError::UNSPECIFIED;
}

std::string RtMidiErrors::text() const {
  return state_.load(std::memory_order_acquire) == kWritten ? std::string(text_) : std::string();
}

}  // namespace strandlink::midi::alsa
