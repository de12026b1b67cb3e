// Listing 100,000 users through the two-call get_user_list, against the raw
// limit: plain SQLite reading the same rows into records of the same size.
// Also del_limit at that size, where only the masks whose bits move are
// rewritten.
#include <sqlite3.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/compare.h"
#include "common/users.h"
#include "store/keyward.h"

namespace {

constexpr int kUsers = 100000;
std::string g_path;

struct Connection {
    sqlite3* db = nullptr;
    explicit Connection(int flags) { sqlite3_open_v2(g_path.c_str(), &db, flags, nullptr); }
    ~Connection() { sqlite3_close(db); }
    long long count(const char* sql) const {
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, sql, -1, &st, nullptr);
        const long long n = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : -1;
        sqlite3_finalize(st);
        return n;
    }
};

void BM_RawScan(benchmark::State& state) {
    Connection c(SQLITE_OPEN_READONLY);
    std::vector<bench::RawRecord> recs;
    for (auto _ : state) benchmark::DoNotOptimize(bench::rawScan(c.db, recs));
    if (recs.size() != kUsers) state.SkipWithError("rows missing");
}
BENCHMARK(BM_RawScan)->Unit(benchmark::kMillisecond)->MinTime(1.0);

void BM_GetUserList(benchmark::State& state) {
    std::vector<UserRecord> recs;
    int n = 0;
    for (auto _ : state) {
        n = get_user_list(nullptr);
        recs.resize(std::size_t(std::max(n, 0)));
        benchmark::DoNotOptimize(get_user_list(recs.data()));
    }
    if (n != kUsers) state.SkipWithError("rows missing");
}
BENCHMARK(BM_GetUserList)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// Deleting the last of eight items: the masks holding it move, the others
// stay. The masks and the item come back between iterations.
void BM_DelLimitLastItem(benchmark::State& state) {
    Connection c(SQLITE_OPEN_READWRITE);
    const auto restore = [&] {
        sqlite3_exec(c.db, "UPDATE users SET mask = (id * 2654435761) & 255 WHERE id > 1", nullptr,
                     nullptr, nullptr);
    };
    restore();
    state.counters["rewritten"] =
        double(c.count("SELECT count(*) FROM users WHERE mask <> 4294967295 AND mask >= 128"));
    for (auto _ : state) {
        state.PauseTiming();
        restore();
        if (get_limit_list(nullptr) < 8) add_limit("item7", "t");
        state.ResumeTiming();
        if (del_limit(7) != KEYWARD_OK) state.SkipWithError("del_limit failed");
    }
}
BENCHMARK(BM_DelLimitLastItem)->Unit(benchmark::kMillisecond)->Iterations(10);

// An item no user holds: no mask moves, none is written.
void BM_DelLimitUnheldItem(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        add_limit("unheld", "t");
        const int pos = get_limit_list(nullptr) - 1;
        state.ResumeTiming();
        if (del_limit(pos) != KEYWARD_OK) state.SkipWithError("del_limit failed");
    }
}
BENCHMARK(BM_DelLimitUnheldItem)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

int main(int argc, char** argv) {
    g_path = bench::tempFolder() + "/list.db";
    setenv("TRAILBOOK_SOCKET", (bench::tempFolder() + "/no-log").c_str(), 1);
    std::printf("making a store of %d users...\n", kUsers);
    bench::makeStore(g_path, kUsers);
    keyward_start();
    const auto& r = bench::runAll(argc, argv);
    keyward_stop();
    std::printf("\n");
    r.printRatio("get_user_list, 100k users", "BM_RawScan", "BM_GetUserList", true, "<= 1.5x");
    std::printf(
        "%-30s %.2f ms wall, %.2f ms cpu with about half the masks moving; "
        "%.2f ms wall, %.2f ms cpu for an item nobody holds\n",
        "del_limit, 100k users", r.times("BM_DelLimitLastItem").wallMs,
        r.times("BM_DelLimitLastItem").cpuMs, r.times("BM_DelLimitUnheldItem").wallMs,
        r.times("BM_DelLimitUnheldItem").cpuMs);
    return 0;
}
