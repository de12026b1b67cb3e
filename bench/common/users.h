// A store with many users for the benchmarks, and the anchor all listing is
// measured against: plain SQLite reading the same rows.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// Makes a store at path holding `users` users: "admin" (password "admin",
// level 4) through the store's calls, the rest written straight into the
// file in one transaction, since hashing 100,000 passwords would take
// minutes. Every tenth name is Chinese; masks spread over eight items.
// Points KEYWARD_DB at path.
void makeStore(const std::string& path, int users);

// As the store's user record: 40 bytes.
struct RawRecord {
    char name[32];
    std::int32_t level;
    std::uint32_t mask;
};
static_assert(sizeof(RawRecord) == 40);

// The anchor: (id, name, level, mask) of every user in id order, copied into
// records without any conversion. Returns the number of rows.
std::size_t rawScan(sqlite3* db, std::vector<RawRecord>& out);

// A temporary folder, removed with everything in it at the end of the run.
std::string tempFolder();

}  // namespace bench
