// The Network MIDI 2.0 sessions without sockets: a host and its clients driven by
// hand and by a clock that tests move on.
#include <gtest/gtest.h>

#include "protocol/admission.h"
#include "protocol/midi2/session.h"

using namespace strandlink::protocol::midi2;
using Bytes = std::vector<std::uint8_t>;

namespace {

const Endpoint kHost{0x7F000001, 5673};
Endpoint client(std::uint16_t port) { return {0x7F000002, port}; }

// Hands what each side sends to the other until both are quiet.
void pump(Session& host, Session& guest, const Endpoint& guestAt, Micros now) {
  for (int round = 0; round < 8; ++round) {
    for (const Outgoing& o : guest.takeOutgoing()) host.receive(guestAt, o.datagram, now);
    for (const Outgoing& o : host.takeOutgoing())
      if (o.to == guestAt) guest.receive(kHost, o.datagram, now);
  }
}

std::vector<std::uint8_t> codes(const std::vector<Outgoing>& out) {
  std::vector<std::uint8_t> c;
  for (const Outgoing& o : out) {
    std::vector<Command> commands;
    EXPECT_EQ(readDatagram(o.datagram, commands), DatagramError::None);
    for (const Command& k : commands) c.push_back(k.code);
  }
  return c;
}

std::vector<EventKind> kinds(Session& s) {
  std::vector<EventKind> k;
  for (const SessionEvent& e : s.takeEvents()) k.push_back(e.kind);
  return k;
}

Session guestNamed(const std::string& name) { return Session({{name, "id-" + name}, kHost}); }

}  // namespace

TEST(Midi2Session, HostTakesEightReplacesARestartedOneAndRefusesTheRest) {
  Session host({{"host", "h1"}, std::nullopt});
  for (std::uint16_t i = 0; i < 8; ++i) {
    Session guest = guestNamed(std::string(1, char('a' + i)));
    guest.start(0);
    pump(host, guest, client(1000 + i), 0);
  }
  EXPECT_EQ(host.established(), 8u);
  EXPECT_EQ(host.identityOf(0), (Identity{"a", "id-a"}));
  static_cast<void>(host.takeEvents());
  // "a" again from a new port: its old session ends and the new one is up, at once.
  Session again = guestNamed("a");
  again.start(1);
  pump(host, again, client(2000), 1);
  EXPECT_EQ(kinds(host), (std::vector{EventKind::Down, EventKind::Up}));
  EXPECT_EQ(host.peerOf(0), client(2000));
  Session ninth = guestNamed("z");
  ninth.start(2);
  pump(host, ninth, client(3000), 2);
  EXPECT_EQ(host.established(), 8u);
  ASSERT_EQ(ninth.takeEvents().at(0).refusal, Refusal::Busy);
  // No instance id: a peer we could not know again is turned away.
  Session nameless({{"n", ""}, kHost});
  nameless.start(3);
  host.receive(client(4000), nameless.takeOutgoing().at(0).datagram, 3);
  const std::vector<Outgoing> out = host.takeOutgoing();
  EXPECT_EQ(codes(out), std::vector<std::uint8_t>{0xF0});
  EXPECT_EQ(out.at(0).datagram[6], std::uint8_t(ByeReason::Rejected));
}

TEST(Midi2Session, SilenceIsPingedThenEnded) {
  Session host({{"host", "h1"}, std::nullopt});
  Session guest = guestNamed("a");
  guest.start(0);
  pump(host, guest, client(1000), 0);
  static_cast<void>(host.takeEvents());
  // Answered pings keep it up and time the round trip; after one more, sent
  // though the last reply was heard, five unanswered end it with a Bye.
  EXPECT_EQ(host.roundTripOf(0), std::nullopt);
  for (int i = 1; i <= 3; ++i) {
    host.tick(i * kWatchdogMicros);
    pump(host, guest, client(1000), i * kWatchdogMicros + 300 * i);
  }
  EXPECT_EQ(host.established(), 1u);
  EXPECT_EQ(host.roundTripOf(0), 900);
  std::vector<std::uint8_t> sent;
  for (int i = 4; i <= 10; ++i) {
    host.tick(i * kWatchdogMicros);
    for (const std::uint8_t c : codes(host.takeOutgoing())) sent.push_back(c);
  }
  EXPECT_EQ(sent, (std::vector<std::uint8_t>{0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0xF0}));
  EXPECT_EQ(kinds(host), std::vector{EventKind::Down});
}

TEST(Midi2Session, ClientRetriesWaitsWhilePendingThenGivesUp) {
  Session guest = guestNamed("a");
  guest.start(0);
  std::vector<std::uint8_t> sent = codes(guest.takeOutgoing());
  for (int i = 1; i <= 5; ++i) {
    guest.tick(i * kWatchdogMicros);
    for (const std::uint8_t c : codes(guest.takeOutgoing())) sent.push_back(c);
  }
  EXPECT_EQ(sent, (std::vector<std::uint8_t>{1, 1, 1, 1, 1, 0xF0}));
  EXPECT_EQ(guest.takeEvents().at(0).refusal, Refusal::NoAnswer);
  // Invited again later; a Pending reply holds further invitations back.
  guest.tick(*guest.nextWakeup());
  static_cast<void>(guest.takeOutgoing());
  Bytes pending;
  beginDatagram(pending);
  appendInvitation(pending, CommandCode::Pending, {"host", "h1"});
  guest.receive(kHost, pending, 20'000'000);
  guest.tick(30'000'000);
  EXPECT_TRUE(guest.takeOutgoing().empty());
  guest.tick(20'000'000 + kPendingMicros);
  EXPECT_EQ(codes(guest.takeOutgoing()), std::vector<std::uint8_t>{0xF0});
}

TEST(Midi2Session, StrangersAndUnknownCommandsGetOneAnswerAndNaksNone) {
  Session host({{"host", "h1"}, std::nullopt});
  Bytes data;
  beginDatagram(data);
  appendUmpData(data, 0, {});
  appendUmpData(data, 1, {});
  host.receive(client(1), data, 0);
  host.receive(client(1), data, 10);
  EXPECT_EQ(codes(host.takeOutgoing()), std::vector<std::uint8_t>{0xF0});  // once a second
  Session guest = guestNamed("a");
  guest.start(0);
  pump(host, guest, client(2), 0);
  Bytes odd;
  beginDatagram(odd);
  appendCommand(odd, CommandCode(0x55), 0, 0);
  appendNak(odd, NakReason::NotSupported, 0x55000000);
  appendCommand(odd, CommandCode::OtherNak, 1, 0);
  host.receive(client(2), odd, 20);
  EXPECT_EQ(codes(host.takeOutgoing()), std::vector<std::uint8_t>{0x8F});
  EXPECT_EQ(host.counters().naks, 2u);
}

TEST(Midi2Session, SecretsAreProvedByDigestAndWrongOnesTurnedAwaySoon) {
  Nonce nonce{};
  for (std::uint8_t i = 0; i < 16; ++i) nonce[i] = i;
  const auto hex = [](const Digest& d) {
    std::string s;
    for (const std::uint8_t b : d) s += "0123456789abcdef"[b >> 4], s += "0123456789abcdef"[b & 15];
    return s;
  };
  EXPECT_EQ(hex(authenticationDigest(nonce, "", "s3cret")),
            "bb913cc836b213896ba4e54fc1d1c54bc72242421085f10ac4944db11bd9f191");
  EXPECT_EQ(hex(authenticationDigest(nonce, "ann", "pw")),
            "4bdb75e2fb1cd25db0b65201ca1252262abc34732d497dd2678764c4a207e349");
  for (const std::string user : {"", "ann"}) {
    Session host({{"host", "h1"}, std::nullopt, user, "pw"});
    Session good({{"a", "ia"}, kHost, user, "pw"});
    good.start(0);
    pump(host, good, client(1), 0);
    EXPECT_EQ(host.established(), 1u);
    EXPECT_EQ(kinds(good), std::vector{EventKind::Up});
    // A wrong secret is asked again with a fresh nonce, and the client gives up at once.
    Session bad({{"b", "ib"}, kHost, user, "guess"});
    bad.start(0);
    pump(host, bad, client(2), 0);
    EXPECT_EQ(host.established(), 1u);
    EXPECT_EQ(bad.takeEvents().at(0).refusal, Refusal::AuthenticationFailed);
  }
  // A host with a users file takes each user with its own password, and no other.
  Session host({{"host", "h1"}, std::nullopt, "", "", {{"ann", "pw"}, {"bob", "pw2"}}});
  std::uint16_t port = 3;
  for (const auto& [user, password, admitted] :
       {std::tuple{"bob", "pw2", true}, {"ann", "pw2", false}, {"eve", "pw", false}}) {
    Session c({{user, user}, kHost, user, password});
    c.start(0);
    pump(host, c, client(port++), 0);
    EXPECT_EQ(kinds(c) == std::vector{EventKind::Up}, admitted) << user;
  }
}

// After a failed proof an address's next is judged only once a delay has passed,
// doubling up to the longest; one that comes early is refused unjudged, even a
// right one. Another address is not held back; a success or a quiet while forgets.
TEST(Midi2Session, FailedProofsHoldTheirAddressBackLongerEachTime) {
  Session host({{"host", "h1"}, std::nullopt, "", "pw"});
  constexpr std::uint32_t a = 0x7F000002, b = 0x7F000003;
  constexpr Micros ms = 1000, s = kSecond;
  std::uint16_t port = 100;
  // Each try from a new port; wait < 0: admitted, else the refusal the host says.
  for (const auto& [address, secret, at, early, wait] : std::initializer_list<std::tuple<std::uint32_t, const char*,
                                                                                         Micros, bool, Micros>>{
           {a, "no", 0, false, 1 * s},         {a, "pw", 500 * ms, true, 500 * ms}, {a, "no", 1 * s, false, 2 * s},
           {a, "no", 2900 * ms, true, 100 * ms}, {a, "no", 3 * s, false, 4 * s},     {a, "no", 7 * s, false, 8 * s},
           {a, "no", 15 * s, false, 16 * s},   {a, "no", 31 * s, false, 30 * s},    {a, "no", 61 * s, false, 30 * s},
           {b, "pw", 62 * s, false, -1},        {a, "pw", 91 * s, false, -1},        {a, "no", 92 * s, false, 1 * s},
           {a, "no", 213 * s, false, 1 * s}}) {
    const Endpoint from{address, port++};
    Session c({{"c", "ic"}, kHost, "", secret});
    c.start(at);
    pump(host, c, from, at);
    const std::vector<SessionEvent> events = c.takeEvents();
    ASSERT_EQ(events.size(), 1u) << at;
    EXPECT_EQ(std::pair(events[0].kind, events[0].refusal),
              wait < 0 ? std::pair(EventKind::Up, Refusal::None)
                       : std::pair(EventKind::Refused, Refusal::AuthenticationFailed))
        << at;
    std::vector<std::tuple<Endpoint, bool, Micros>> said;
    for (const SessionEvent& e : host.takeEvents())
      if (e.kind == EventKind::ProofRefused) said.emplace_back(e.from, e.early, e.wait);
    EXPECT_EQ(said, (wait < 0 ? decltype(said){} : decltype(said){{from, early, wait}})) << at;
  }
}

// A gap is asked for at once, then after 25, 50 and 100 ms while any of it is
// still missing; what came after it waits, so that the link hears every command
// in order, until the gap is filled, the sender says it no longer has it, or
// 400 ms went: then the link hears of the gap first, and what waited follows.
TEST(Midi2Session, WhatFollowsAGapWaitsForItUntilItIsFilledOrGivenUp) {
  Session host({{"host", "h1"}, std::nullopt});
  Session guest = guestNamed("a");
  guest.start(0);
  pump(host, guest, client(1000), 0);
  static_cast<void>(host.takeEvents());
  const auto send = [&](std::uint16_t sequence, Micros now, Bytes d = {}) {
    if (d.empty()) beginDatagram(d);
    const std::uint32_t note[] = {0x20903C00u | sequence};
    appendUmpData(d, sequence, note);
    host.receive(client(1000), d, now);
  };
  // What the host asked for: first and count of each request.
  const auto asked = [&] {
    std::vector<std::pair<int, int>> requests;
    for (const Outgoing& o : host.takeOutgoing()) {
      std::vector<Command> commands;
      (void)readDatagram(o.datagram, commands);
      for (const Command& c : commands)
        if (c.code == 0x80) requests.emplace_back(c.data(), c.word(0) >> 16);
    }
    return requests;
  };
  // What the link heard: the number of each command handed on, -1 for a gap.
  const auto heard = [&] {
    std::vector<int> h;
    for (const SessionEvent& e : host.takeEvents())
      if (e.kind == EventKind::Data) h.push_back(int(e.words.at(0) & 0xFF));
      else if (e.kind == EventKind::GapUnfilled) h.push_back(-1);
    return h;
  };
  const auto error = [&](std::uint16_t earliest, Micros now) {
    Bytes d;
    beginDatagram(d);
    appendRetransmitError(d, 0x01, earliest);
    host.receive(client(1000), d, now);
  };
  using Asks = std::vector<std::pair<int, int>>;
  using Heard = std::vector<int>;
  send(0, 0);
  send(3, 1000);  // 1 and 2 lost
  EXPECT_EQ(asked(), (Asks{{1, 2}}));
  EXPECT_EQ(heard(), (Heard{0}));
  host.tick(25'999);
  EXPECT_EQ(asked(), Asks{});
  host.tick(26'000);
  EXPECT_EQ(asked(), (Asks{{1, 3}}));
  send(1, 40'000);  // came late: 2 still missing, 3 waits
  EXPECT_EQ(heard(), (Heard{1}));
  host.tick(76'000);
  EXPECT_EQ(asked(), (Asks{{2, 2}}));
  host.tick(176'000);
  EXPECT_EQ(asked(), (Asks{{2, 2}}));
  host.tick(376'000);
  EXPECT_EQ(asked(), Asks{});  // four asks went
  host.tick(400'999);
  EXPECT_EQ(heard(), Heard{});
  EXPECT_EQ(host.nextWakeup(), 401'000);
  host.tick(401'000);
  EXPECT_EQ(heard(), (Heard{-1, 3}));
  send(2, 402'000);  // too late: after 3, it would be out of order
  EXPECT_EQ(heard(), Heard{});
  // A sender that says a command is gone: that gap is given up, the next waits;
  // one that says which is the earliest it still has: all before that go.
  send(6, 500'000);  // 4 and 5 lost
  send(8, 501'000);  // 7 lost
  EXPECT_EQ(asked(), (Asks{{4, 2}, {7, 1}}));
  error(4, 502'000);
  EXPECT_EQ(heard(), (Heard{-1, 6}));
  send(11, 503'000);  // 9 and 10 lost
  EXPECT_EQ(asked(), (Asks{{9, 2}}));
  error(11, 504'000);
  EXPECT_EQ(heard(), (Heard{-1, 8, 11}));
  EXPECT_EQ(host.counters().recovered, 1u);
  EXPECT_EQ(host.counters().unfilled, 6u);
  // A peer that cannot send again: each datagram's copies fill what they can at
  // once; after it nothing waits.
  Bytes nak;
  beginDatagram(nak);
  appendNak(nak, NakReason::NotSupported, 0x80000000u);
  host.receive(client(1000), nak, 600'000);
  Bytes copies;
  beginDatagram(copies);
  appendUmpData(copies, 13, std::array<std::uint32_t, 1>{0x20903C0Du});
  send(14, 600'000, copies);  // 12 lost
  EXPECT_EQ(heard(), (Heard{-1, 13, 14}));
  EXPECT_EQ(asked(), Asks{});
}

// A host's admission, before any proof: a listed client gets in at once; one it
// asks about hears Pending, again when it asks again, and is in as soon as the
// user allows it; one the user refuses, or one unlisted, is told Bye.
TEST(Midi2Session, AdmissionLetsTheListedInAndKeepsOneAskedAboutPendingUntilTheAnswer) {
  using strandlink::protocol::Inviter;
  using strandlink::protocol::InviterAnswer;
  strandlink::protocol::Admission admission;
  admission.configure(strandlink::settings::Admission::Ask, {"127.0.0.2"}, {});
  SessionConfig config{{"host", "h1"}, std::nullopt};
  config.admits = [&](const Endpoint& from, const std::string& name) {
    return admission.judge(Inviter{"127.0.0." + std::to_string(from.address & 0xFF), name});
  };
  Session host(std::move(config));
  Session listed = guestNamed("a");
  listed.start(0);
  pump(host, listed, client(1000), 0);
  EXPECT_EQ(host.established(), 1u);
  static_cast<void>(host.takeEvents());

  // The host's replies to the guest's invitation, handed to the guest.
  const auto invites = [&](Session& guest, const Endpoint& at, Micros now) {
    guest.start(now);
    host.receive(at, guest.takeOutgoing().at(0).datagram, now);
    const std::vector<Outgoing> replies = host.takeOutgoing();
    for (const Outgoing& o : replies) guest.receive(kHost, o.datagram, now);
    return codes(replies);
  };
  const Endpoint strangerAt{0x7F000003, 1000};
  Session stranger = guestNamed("s");
  EXPECT_EQ(invites(stranger, strangerAt, 1'000'000), std::vector<std::uint8_t>{0x11});
  const std::vector<SessionEvent> asked = host.takeEvents();
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_TRUE(asked[0].kind == EventKind::InviterWaits && asked[0].peerName == "s" && asked[0].from == strangerAt);
  EXPECT_TRUE(admission.ask(Inviter{"127.0.0.3", "s"}));
  // Its invitation again (a client that ignores Pending): Pending again, no second question.
  Session impatient = guestNamed("s");
  EXPECT_EQ(invites(impatient, strangerAt, 3'000'000), std::vector<std::uint8_t>{0x11});
  EXPECT_TRUE(host.takeEvents().empty());
  host.reconsider(4'000'000);
  EXPECT_TRUE(host.takeOutgoing().empty()) << "let in before the answer";
  admission.answer(Inviter{"127.0.0.3", "s"}, InviterAnswer::AllowOnce);
  host.reconsider(5'000'000);
  const std::vector<Outgoing> accepted = host.takeOutgoing();
  EXPECT_EQ(codes(accepted), std::vector<std::uint8_t>{0x10});
  for (const Outgoing& o : accepted) stranger.receive(kHost, o.datagram, 5'000'000);
  EXPECT_EQ(stranger.established(), 1u);
  EXPECT_EQ(host.established(), 2u);
  static_cast<void>(host.takeEvents());

  // Refused when asked: a Bye, and said.
  const Endpoint otherAt{0x7F000004, 1000};
  Session other = guestNamed("o");
  EXPECT_EQ(invites(other, otherAt, 6'000'000), std::vector<std::uint8_t>{0x11});
  static_cast<void>(host.takeEvents());
  admission.ask(Inviter{"127.0.0.4", "o"});
  admission.answer(Inviter{"127.0.0.4", "o"}, InviterAnswer::Refuse);
  host.reconsider(7'000'000);
  const std::vector<Outgoing> bye = host.takeOutgoing();
  ASSERT_EQ(codes(bye), std::vector<std::uint8_t>{0xF0});
  EXPECT_EQ(bye[0].datagram[6], std::uint8_t(ByeReason::Rejected));
  EXPECT_EQ(host.takeEvents().at(0).kind, EventKind::InviterRefused);
  // Only those listed: the unlisted is told at once.
  admission.configure(strandlink::settings::Admission::Listed, {"127.0.0.2"}, {});
  Session unlisted = guestNamed("u");
  EXPECT_EQ(invites(unlisted, {0x7F000005, 1000}, 9'000'000), std::vector<std::uint8_t>{0xF0});
  EXPECT_EQ(host.takeEvents().at(0).kind, EventKind::InviterRefused);
  EXPECT_EQ(host.established(), 2u);
}
