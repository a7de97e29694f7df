// Process priority: "High" and "Realtime" mapped onto Linux scheduling.
#pragma once

namespace strandlink::link {

enum class Priority { High, Realtime };

// High: nice -10 for every thread of the process. Realtime: SCHED_RR at a moderate
// priority for every thread (below the audio server's). Takes effect at once. A
// refusal (no permission) leaves things as they are and is not reported; the
// answer only says whether every thread took it.
bool setProcessPriority(Priority priority);

}  // namespace strandlink::link
