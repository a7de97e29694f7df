// Start-up of the core, in the design's order (the window stacks its animation
// frames first and is shown through the hook once the mapper is listed).
#pragma once

#include <cstdint>
#include <functional>

#include <QString>

namespace strandlink {

class Session;

// Priority, devices, default settings, socket service and the local address.
// A window-less run given a settings file of its own skips the default file.
void Form_Load(Session& s, const std::function<void()>& showWindow, bool loadDefaultSettings = true);

// Host name, its first address, and that address into txtIPLocal.
void ShowLocalAddress(Session& s);

// An address in network byte order as dotted text ("255.255.255.255" for none).
QString formatAddress(std::uint32_t addressNetworkOrder);

}  // namespace strandlink
