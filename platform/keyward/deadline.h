// Waiting on a socket no longer than a caller may wait.
#pragma once

#include <chrono>
#include <optional>

namespace keyward {

using Deadline = std::chrono::steady_clock::time_point;

// Waits until fd is ready for events (poll's); false when the deadline
// passed first (with no deadline, never) or poll failed.
bool ready(int fd, short events, std::optional<Deadline> deadline);

}  // namespace keyward
