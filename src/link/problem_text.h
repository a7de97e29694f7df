// The words of the protocols' problems, all in one place, and how each is shown:
// a box through the reporter, or a line.
#pragma once

#include <QString>

#include "protocol/peer_problem.h"

namespace strandlink::report {
class Reporter;
}

namespace strandlink::link {

// The title of the box of refused values.
inline constexpr char kRefusedValueTitle[] = "Network Settings";

// Shows the problem's box, or for one that needs no box returns its line (empty
// after a box).
QString reportProblem(report::Reporter& reporter, const protocol::PeerProblem& problem);

}  // namespace strandlink::link
