#include "users.h"

#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "store/keyward.h"

namespace bench {

namespace {

void check(int rc, sqlite3* db, const char* what) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
        throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(db));
}

}  // namespace

void makeStore(const std::string& path, int users) {
    std::filesystem::remove(path);
    setenv("KEYWARD_DB", path.c_str(), 1);
    setenv("KEYWARD_HASH_COST", "1", 1);
    keyward_start();
    add_limit(SYS_LIMIT_NAME, SYS_LIMIT_TITLE);
    for (int i = 1; i < 8; ++i) add_limit(("item" + std::to_string(i)).c_str(), "t");
    if (users > 0 && add_user("admin", "admin", 4, 0xFFFFFFFFu) != KEYWARD_OK)
        throw std::runtime_error("cannot add the first user to " + path);
    keyward_stop();
    unsetenv("KEYWARD_HASH_COST");

    sqlite3* db = nullptr;
    check(sqlite3_open(path.c_str(), &db), db, "open");
    check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db, "begin");
    sqlite3_stmt* st = nullptr;
    check(sqlite3_prepare_v2(db, "INSERT INTO users(name, level, mask, hash) VALUES (?, ?, ?, ?)",
                             -1, &st, nullptr),
          db, "prepare");
    // A yescrypt hash's length, so rows are as long as real ones.
    const std::string hash =
        "$y$j9T$0123456789abcdefghijkl$0123456789abcdefghijklmnopqrstuvwxyzABCDEFG";
    for (int i = 2; i <= users; ++i) {
        char name[64];
        if (i % 10 == 0)
            std::snprintf(name, sizeof name, "%s%d", reinterpret_cast<const char*>(u8"用户"), i);
        else
            std::snprintf(name, sizeof name, "user%06d", i);
        sqlite3_bind_text(st, 1, name, -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(st, 2, 1 + i % 4);
        sqlite3_bind_int64(st, 3, (std::int64_t(i) * 2654435761u) & 0xFF);
        sqlite3_bind_text(st, 4, hash.c_str(), -1, SQLITE_STATIC);
        check(sqlite3_step(st), db, "insert");
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db, "commit");
    sqlite3_close(db);
}

std::string tempFolder() {
    static const std::string folder = [] {
        char pattern[] = "/tmp/rolvane-bench-XXXXXX";
        if (mkdtemp(pattern) == nullptr) throw std::runtime_error("no temporary folder");
        std::atexit([] { std::filesystem::remove_all(folder); });
        return std::string(pattern);
    }();
    return folder;
}

}  // namespace bench
