// The words of the protocols' problems, all in one place, and how each is shown:
// a box through the reporter, or a line.
#pragma once

#include <QString>

#include "protocol/peer_problem.h"
#include "settings/key_file.h"

namespace strandlink::report {
class Reporter;
}

namespace strandlink::link {

// The title of the box of refused values.
inline constexpr char kRefusedValueTitle[] = "Network Settings";

// Shows the problem's box, or for one that needs no box returns its line (empty
// after a box).
QString reportProblem(report::Reporter& reporter, const protocol::PeerProblem& problem);

// Why the key file at path cannot be used, in one line.
QString keyFileText(const settings::KeyFile& read, const QString& path,
                    QLatin1StringView option = QLatin1StringView("--key-file"));
// A key is given while the session's protocol is not the classic one.
QString keyWithOtherProtocolText();
// The window's link runs another protocol than the classic one the key is for.
QString keyUnusedText();

}  // namespace strandlink::link
