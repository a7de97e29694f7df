// Process priority: "High" and "Realtime" mapped onto Linux scheduling.
#pragma once

#include <cstdint>

namespace strandlink {

class Session;

inline constexpr std::uint32_t kHighPriorityClass = 128;
inline constexpr std::uint32_t kRealtimePriorityClass = 256;

// High: nice -10 for every thread of the process. Realtime: SCHED_RR at a moderate
// priority for every thread. A refusal leaves things as they are, silently; the
// result goes to LastApiResult only.
void SetProcessPriority(Session& s, std::uint32_t priorityClass);

// The option handlers: apply the class of the option that is now selected.
void optHigh_Click(Session& s);
void optReal_Click(Session& s);

}  // namespace strandlink
