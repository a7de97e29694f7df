// strandlink --list-peers: the sessions published on the network, printed once.
#pragma once

#include <QString>

#include <chrono>
#include <cstdio>

namespace strandlink::headless {

// One line per session found within `wait` ("NAME<tab>HOST<tab>ADDRESS:PORT").
// 0 when any was found; 1 when none was, or discovery is off (one line on err).
// Needs a QCoreApplication.
int listPeers(const QString& serviceType, std::FILE* out, std::FILE* err,
              std::chrono::milliseconds wait = std::chrono::milliseconds(2000));

}  // namespace strandlink::headless
