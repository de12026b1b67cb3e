#include "deadline.h"

#include <poll.h>

#include <cerrno>

namespace keyward {

namespace {

int remainingMs(Deadline deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

bool ready(int fd, short events, std::optional<Deadline> deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        const int rc = poll(&p, 1, deadline ? remainingMs(*deadline) : -1);
        if (rc > 0) return true;
        if (rc == 0) return false;
        if (errno != EINTR) return false;
    }
}

}  // namespace keyward
