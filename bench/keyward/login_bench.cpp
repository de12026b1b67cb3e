// Logins at many stations at once on one store, at the built-in hash cost:
// prints one login's time alone and the slowest and median login under
// contention. Without a lock held while hashing, a login waits only for the
// verifications queued on the CPUs before it: the slowest should stay near
// (stations / cores) x one login, never at the busy timeout.
//
// usage: keyward_login_bench [STATIONS [LOGINS]]   (default 16 x 8)
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "store/keyward.h"

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int stations = argc > 1 ? std::atoi(argv[1]) : 16;
    const int logins = argc > 2 ? std::atoi(argv[2]) : 8;
    char dir[] = "/tmp/keyward-login-bench-XXXXXX";
    if (mkdtemp(dir) == nullptr) return 1;
    setenv("KEYWARD_DB", (std::string(dir) + "/keyward.db").c_str(), 1);
    setenv("TRAILBOOK_SOCKET", (std::string(dir) + "/no-log").c_str(), 1);
    unsetenv("KEYWARD_HASH_COST");
    if (add_user("op", "pw", 1, 0) != KEYWARD_OK) return 1;

    std::vector<double> alone;
    for (int i = 0; i < 5; ++i) {
        const auto start = Clock::now();
        if (login("op", "pw") != KEYWARD_OK) return 1;
        alone.push_back(msSince(start));
    }
    std::sort(alone.begin(), alone.end());
    keyward_stop();

    int results[2];
    if (pipe(results) != 0) return 1;
    const auto start = Clock::now();
    for (int s = 0; s < stations; ++s) {
        if (fork() != 0) continue;
        for (int i = 0; i < logins; ++i) {
            const auto t = Clock::now();
            const int rc = login("op", "pw");
            const double ms = rc == KEYWARD_OK ? msSince(t) : -1;
            if (write(results[1], &ms, sizeof ms) != sizeof ms) _exit(1);
        }
        _exit(0);
    }
    close(results[1]);
    std::vector<double> times;
    int failures = 0;
    double ms = 0;
    while (read(results[0], &ms, sizeof ms) == sizeof ms) {
        if (ms < 0)
            ++failures;
        else
            times.push_back(ms);
    }
    while (wait(nullptr) > 0) {
    }
    const double wall = msSince(start);
    std::sort(times.begin(), times.end());
    std::printf("one login alone:     %8.1f ms (median of 5)\n", alone[2]);
    std::printf("stations x logins:   %d x %d on %u cores, %d failed\n", stations, logins,
                std::thread::hardware_concurrency(), failures);
    if (!times.empty()) {
        std::printf("median login:        %8.1f ms\n", times[times.size() / 2]);
        std::printf("slowest login:       %8.1f ms\n", times.back());
    }
    std::printf("all logins:          %8.1f ms wall\n", wall);
    std::filesystem::remove_all(dir);
    return failures == 0 ? 0 : 1;
}
