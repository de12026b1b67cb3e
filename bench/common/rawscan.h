// The anchor all listing is measured against: plain SQLite reading the
// store's rows, with nothing of the store's library.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <vector>

namespace bench {

// As the store's user record: 40 bytes.
struct RawRecord {
    char name[32];
    std::int32_t level;
    std::uint32_t mask;
};
static_assert(sizeof(RawRecord) == 40);

// (id, name, level, mask) of every user in id order, copied into records
// without any conversion. Returns the number of rows.
std::size_t rawScan(sqlite3* db, std::vector<RawRecord>& out);

// The number of permission items.
int rawItemCount(sqlite3* db);

}  // namespace bench
