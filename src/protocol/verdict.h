// What an admission makes of an inviter: let in, kept out, or asked about. Apart
// from the admission itself, so that a protocol's sessions can take a judgement
// without knowing how it is made.
#pragma once

namespace strandlink::protocol {

enum class Verdict { Admit, Refuse, Ask };

}  // namespace strandlink::protocol
