// The store on a server, every call through the server's own functions,
// against raw libpq on the same rows, in one run: get_user_list of 100k
// users (count and fill) against one scan copying the same fields, and
// add_user (its rules, its keyed audit row and the writers' lock included)
// against hashing the password and one INSERT of the same row. Prints the
// medians and their ratio (goal: at most 1.5x).
//
// usage: keyward_server_bench URI-OF-AN-EMPTY-DATABASE
//        or, under tests/keyward/with_server.sh, without arguments
#include <libpq-fe.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "password.h"
#include "store/keyward.h"

namespace {

using Clock = std::chrono::steady_clock;
using Conn = std::unique_ptr<PGconn, decltype(&PQfinish)>;

constexpr int kUsers = 100000;
constexpr int kAdds = 300;

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Milliseconds of each of runs calls of body.
std::vector<double> timed(int runs, const std::function<void()>& body) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        body();
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    return ms;
}

bool exec(PGconn* c, const char* sql) {
    std::unique_ptr<PGresult, decltype(&PQclear)> r(PQexec(c, sql), &PQclear);
    const auto s = PQresultStatus(r.get());
    if (s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK) return true;
    std::fprintf(stderr, "%s: %s", sql, PQresultErrorMessage(r.get()));
    return false;
}

void report(const char* what, double store, double raw) {
    std::printf("%-34s store %9.3f ms   raw libpq %9.3f ms   ratio %.2fx\n", what, store, raw,
                store / raw);
}

}  // namespace

int main(int argc, char** argv) {
    std::string uri;
    if (argc > 1) {
        uri = argv[1];
    } else if (const char* host = std::getenv("KEYWARD_TEST_SERVER")) {
        Conn admin(
            PQconnectdb(("postgresql://postgres@/postgres?host=" + std::string(host)).c_str()),
            &PQfinish);
        if (!exec(admin.get(), "DROP DATABASE IF EXISTS keyward_bench") ||
            !exec(admin.get(), "CREATE DATABASE keyward_bench"))
            return 1;
        uri = "postgresql://postgres@/keyward_bench?host=" + std::string(host);
    } else {
        std::fprintf(stderr, "usage: keyward_server_bench URI (or run under with_server.sh)\n");
        return 2;
    }
    setenv("KEYWARD_DB", uri.c_str(), 1);
    setenv("KEYWARD_HASH_COST", "1", 1);  // the engine is measured, not yescrypt
    setenv("TRAILBOOK_SOCKET", "/nonexistent", 1);
    if (add_user("first", "pw", 1, 0) != KEYWARD_OK) return 1;
    Conn raw(PQconnectdb(uri.c_str()), &PQfinish);
    if (PQstatus(raw.get()) != CONNECTION_OK) return 1;
    char sql[256];
    std::snprintf(sql, sizeof sql,
                  "INSERT INTO users(name, level, mask, hash) SELECT 'user' || i, i %% 5, i, "
                  "'x' FROM generate_series(1, %d) i",
                  kUsers - 1);
    if (!exec(raw.get(), sql) || !exec(raw.get(), "ANALYZE")) return 1;

    std::vector<UserRecord> recs(kUsers);
    const auto store = timed(7, [&] {
        const int n = get_user_list(nullptr);
        if (n != kUsers || get_user_list(recs.data()) != n) std::abort();
    });
    const auto scan = timed(7, [&] {
        std::unique_ptr<PGresult, decltype(&PQclear)> r(
            PQexec(raw.get(), "SELECT name, level, mask FROM users ORDER BY id"), &PQclear);
        const int n = PQntuples(r.get());
        if (n != kUsers) std::abort();
        for (int i = 0; i < n; ++i) {
            std::strncpy(recs[i].name, PQgetvalue(r.get(), i, 0), sizeof recs[i].name - 1);
            recs[i].level = std::atoi(PQgetvalue(r.get(), i, 1));
            recs[i].mask = static_cast<std::uint32_t>(std::atoll(PQgetvalue(r.get(), i, 2)));
        }
    });
    report("get_user_list, 100k users", median(store), median(scan));

    // For scale: the same listing from an SQLite store of the same rows.
    keyward_stop();
    char dir[] = "/tmp/keyward-server-bench-XXXXXX";
    if (mkdtemp(dir) == nullptr) return 1;
    const std::string file = std::string(dir) + "/keyward.db";
    setenv("KEYWARD_DB", file.c_str(), 1);
    if (add_user("first", "pw", 1, 0) != KEYWARD_OK) return 1;
    keyward_stop();
    sqlite3* lite = nullptr;
    sqlite3_open(file.c_str(), &lite);
    std::snprintf(sql, sizeof sql,
                  "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %d) "
                  "INSERT INTO users(name, level, mask, hash) SELECT 'user' || i, i %% 5, i, 'x' "
                  "FROM n",
                  kUsers - 1);
    const int rc = sqlite3_exec(lite, sql, nullptr, nullptr, nullptr);
    sqlite3_close(lite);
    if (rc != SQLITE_OK) return 1;
    const auto onFile = timed(7, [&] {
        const int n = get_user_list(nullptr);
        if (n != kUsers || get_user_list(recs.data()) != n) std::abort();
    });
    std::printf("%-34s store %9.3f ms   (SQLite file, for scale)\n", "get_user_list, 100k users",
                median(onFile));
    keyward_stop();
    std::filesystem::remove_all(dir);
    setenv("KEYWARD_DB", uri.c_str(), 1);

    int next = 0;
    const auto adds = timed(kAdds, [&] {
        if (add_user(("add" + std::to_string(next++)).c_str(), "pw", 1, 0) != KEYWARD_OK)
            std::abort();
    });
    // The same row in one statement of its own, its password hashed alike.
    next = 0;
    const auto inserts = timed(kAdds, [&] {
        const std::string name = "raw" + std::to_string(next++);
        const auto h = keyward::hashPassword("pw", 1);
        if (!h) std::abort();
        const char* values[] = {name.c_str(), h->c_str()};
        std::unique_ptr<PGresult, decltype(&PQclear)> r(
            PQexecParams(raw.get(),
                         "INSERT INTO users(name, level, mask, hash) VALUES ($1, 1, 0, $2)", 2,
                         nullptr, values, nullptr, nullptr, 0),
            &PQclear);
        if (PQresultStatus(r.get()) != PGRES_COMMAND_OK) std::abort();
    });
    report("add_user (hash cost 1), each", median(adds), median(inserts));
    keyward_stop();
    return 0;
}
