// The recovery journal as values: what a sender says a receiver needs to know about
// the packets since the checkpoint, for the device (system_journal.h) and per MIDI
// channel. Each part is present only when the history touched it. `recent` on an
// element marks what the packet just before the journal's own carried (its S bit
// is then 0), so that a receiver that lost one packet can look at those elements
// alone.
#pragma once

#include <bitset>
#include <cstdint>
#include <optional>
#include <vector>

#include "protocol/rtp/system_journal.h"

namespace strandlink::protocol::rtp {

struct ProgramState {
  std::uint8_t program = 0;
  // Both or neither: the bank select in force when the program was chosen (a half
  // never sent as 0).
  std::optional<std::uint8_t> bankMsb;
  std::optional<std::uint8_t> bankLsb;
  bool recent = false;
  friend bool operator==(const ProgramState&, const ProgramState&) = default;
};

struct ControllerValue {
  std::uint8_t number = 0;
  std::uint8_t value = 0;
  bool recent = false;
  friend bool operator==(const ControllerValue&, const ControllerValue&) = default;
};

// One RPN or NRPN: its data entry when there was one. The one selected at the end,
// with or without a value, is the last of a list (and the list says so).
struct ParameterValue {
  bool nonRegistered = false;
  std::uint16_t number = 0;  // 14 bits: MSB << 7 | LSB
  std::optional<std::uint8_t> entryMsb;
  std::optional<std::uint8_t> entryLsb;
  bool recent = false;
  // Reset All Controllers came after the entry (X): devices keep parameter values
  // through it, so the value still holds.
  bool entryMsbReset = false, entryLsbReset = false;
  friend bool operator==(const ParameterValue&, const ParameterValue&) = default;
};

// A parameter number half chosen: its MSB (99 or 101) sent, its LSB never yet.
// A receiver that lost the MSB would send the data entry after it elsewhere.
struct PendingParameter {
  bool nonRegistered = false;
  std::uint8_t msb = 0;
  bool recent = false;
  friend bool operator==(const PendingParameter&, const PendingParameter&) = default;
};

struct HeldNote {
  std::uint8_t note = 0;
  std::uint8_t velocity = 1;
  bool playIfLost = false;  // the note-on is recent enough to sound late
  bool recent = false;
  friend bool operator==(const HeldNote&, const HeldNote&) = default;
};

struct NotePressure {
  std::uint8_t note = 0;
  std::uint8_t pressure = 0;
  bool recent = false;
  bool notesOffAfter = false;  // All Notes Off (or Sound Off) came after it: it no longer applies
  friend bool operator==(const NotePressure&, const NotePressure&) = default;
};

struct ChannelJournal {
  std::uint8_t channel = 0;  // 0-15
  std::optional<ProgramState> program;
  std::vector<ControllerValue> controllers;
  std::vector<ParameterValue> parameters;
  std::optional<PendingParameter> pendingParameter;      // selected after the last of `parameters`
  bool selectedLast = false;                             // the last of `parameters` is selected now
  std::optional<RecentValue<std::uint16_t>> pitchWheel;  // 14 bits, 0x2000 centre
  std::vector<HeldNote> notesOn;
  std::bitset<128> notesOff;
  bool notesOffRecent = false;
  std::optional<RecentValue<std::uint8_t>> channelPressure;
  std::vector<NotePressure> notePressures;
  // False when a part of a peer's channel journal could not be read: what was read
  // before it holds, the rest is not applied.
  bool complete = true;

  bool hasNotes() const { return !notesOn.empty() || notesOff.any(); }
  friend bool operator==(const ChannelJournal&, const ChannelJournal&) = default;
};

struct RecoveryJournal {
  std::uint16_t checkpoint = 0;
  std::optional<SystemJournal> system;   // before the channels, and applied first
  std::vector<ChannelJournal> channels;  // at most 16, each channel once
  friend bool operator==(const RecoveryJournal&, const RecoveryJournal&) = default;
};

}  // namespace strandlink::protocol::rtp
