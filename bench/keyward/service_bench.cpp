// The store through the account service against the same store in process,
// side by side in one run: a login, and listing 100,000 users through the
// two-call get_user_list. The service (keywardd) runs as a process of its
// own on a copy of the same store.
//
// usage: keyward_service_bench [Google Benchmark options]
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "common/compare.h"
#include "common/users.h"
#include "store/keyward.h"

namespace {

constexpr int kUsers = 100000;
std::string g_file;  // the store in process
std::string g_conf;  // the configuration naming the system store

// The next calls go to the store in process, or through the service.
void inProcess() {
    keyward_stop();
    unsetenv("SETBANK_SYSTEM_FILE");
    setenv("KEYWARD_DB", g_file.c_str(), 1);
    keyward_start();
}

void throughService() {
    keyward_stop();
    unsetenv("KEYWARD_DB");
    setenv("SETBANK_SYSTEM_FILE", g_conf.c_str(), 1);
    keyward_start();
}

void login(benchmark::State& state) {
    for (auto _ : state)
        if (::login("admin", "admin") != KEYWARD_OK) state.SkipWithError("login failed");
}

void list(benchmark::State& state) {
    std::vector<UserRecord> recs;
    int n = 0;
    for (auto _ : state) {
        n = get_user_list(nullptr);
        recs.resize(std::size_t(std::max(n, 0)));
        benchmark::DoNotOptimize(get_user_list(recs.data()));
    }
    if (n != kUsers) state.SkipWithError("rows missing");
}

void BM_LoginInProcess(benchmark::State& state) {
    inProcess();
    login(state);
}
void BM_LoginThroughService(benchmark::State& state) {
    throughService();
    login(state);
}
void BM_ListInProcess(benchmark::State& state) {
    inProcess();
    list(state);
}
void BM_ListThroughService(benchmark::State& state) {
    throughService();
    list(state);
}
BENCHMARK(BM_LoginInProcess)->Unit(benchmark::kMillisecond)->MinTime(1.0);
// Timed by the clock: the work is the service's, not this process's.
BENCHMARK(BM_LoginThroughService)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();
BENCHMARK(BM_ListInProcess)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_ListThroughService)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = bench::tempFolder();
    g_file = dir + "/store.db";
    const std::string served = dir + "/served.db";
    const std::string socket = dir + "/keyward.sock";
    g_conf = dir + "/varnock.conf";
    setenv("TRAILBOOK_SOCKET", (dir + "/no-log").c_str(), 1);
    std::printf("making a store of %d users...\n", kUsers);
    bench::makeStore(g_file, kUsers);
    std::filesystem::copy_file(g_file, served);
    std::filesystem::copy_file(g_file + ".key", served + ".key");
    std::ofstream(g_conf) << "[store]\nlocation = system\n[service]\nsocket = " << socket << "\n";

    const pid_t service = fork();
    if (service == 0) {
        execl(KEYWARDD, KEYWARDD, "--socket", socket.c_str(), "--store", served.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    for (int i = 0; i < 100 && !std::filesystem::exists(socket); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));

    const auto& r = bench::runAll(argc, argv);
    keyward_stop();
    kill(service, SIGTERM);
    waitpid(service, nullptr, 0);

    std::printf("\n");
    const double extra =
        r.times("BM_LoginThroughService").wallMs - r.times("BM_LoginInProcess").wallMs;
    std::printf(
        "%-30s in process %.2f ms | through the service %.2f ms | %+.2f ms | goal <= +5 ms\n",
        "login", r.times("BM_LoginInProcess").wallMs, r.times("BM_LoginThroughService").wallMs,
        extra);
    r.printRatio("get_user_list, 100k, service", "BM_ListInProcess", "BM_ListThroughService", true,
                 "<= 2x (wall; the service's CPU is another process's)");
    return 0;
}
