#include "rawscan.h"

#include <algorithm>
#include <cstring>

namespace bench {

std::size_t rawScan(sqlite3* db, std::vector<RawRecord>& out) {
    out.clear();
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT id, name, level, mask FROM users ORDER BY id", -1, &st, nullptr);
    while (sqlite3_step(st) == SQLITE_ROW) {
        RawRecord& rec = out.emplace_back();
        std::memset(rec.name, 0, sizeof rec.name);
        const auto n = std::size_t(sqlite3_column_bytes(st, 1));
        std::memcpy(rec.name, sqlite3_column_text(st, 1), std::min(n, sizeof rec.name - 1));
        rec.level = sqlite3_column_int(st, 2);
        rec.mask = std::uint32_t(sqlite3_column_int64(st, 3));
    }
    sqlite3_finalize(st);
    return out.size();
}

int rawItemCount(sqlite3* db) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT count(*) FROM limits", -1, &st, nullptr);
    const int n = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int(st, 0) : 0;
    sqlite3_finalize(st);
    return n;
}

}  // namespace bench
