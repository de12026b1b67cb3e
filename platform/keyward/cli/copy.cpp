#include "copy.h"

#include <array>
#include <optional>
#include <vector>

#include "audit.h"
#include "command.h"

namespace keyward::cli {

namespace {

struct StoreTable {
    const char* name;
    const char* columns;
    int count;
    const char* order;
};

// Every row of the store; a table's ids keep list order and audit links.
constexpr std::array<StoreTable, 4> kTables = {{
    {"users", "id, name, level, mask, hash", 5, "id"},
    {"limits", "id, name, title", 3, "id"},
    {"settings", "key, value", 2, "key"},
    {"audit", "id, at, actor, action, target, detail, outcome, pid, hash", 9, "id"},
}};

using Row = std::vector<std::optional<std::string>>;

std::string selectAll(const StoreTable& t, const char* where = "") {
    return std::string("SELECT ") + t.columns + " FROM " + t.name + where + " ORDER BY " + t.order;
}

Row readRow(const Statement& st, int count) {
    Row row;
    for (int c = 0; c < count; ++c) row.push_back(st.optText(c));
    return row;
}

std::int64_t rowsIn(Database& db) {
    return queryInt(db,
                    "SELECT (SELECT count(*) FROM users) + (SELECT count(*) FROM limits) + "
                    "(SELECT count(*) FROM settings) + (SELECT count(*) FROM audit)");
}

// The next id after the copied ones, where the engine keeps it apart.
void continueIds(Database& to, std::int64_t issued) {
    if (to.server() != nullptr) {
        to.exec(
            "SELECT setval('users_id_seq', coalesce((SELECT max(id) FROM users), 0) + 1, false);"
            "SELECT setval('limits_id_seq', coalesce((SELECT max(id) FROM limits), 0) + 1, false)");
        Statement st(to, "UPDATE audit_issued SET last = ?");
        st.bind(1, issued).step();
    } else {
        Statement st(to, "UPDATE sqlite_sequence SET seq = ?1 WHERE name = 'audit' AND seq < ?1");
        st.bind(1, issued).step();
    }
}

}  // namespace

CopyCount copyStore(Database& from, Database& to, const std::string& actor) {
    Transaction read(from, Transaction::Kind::Read);
    Transaction write(to, Transaction::Kind::Write);
    if (rowsIn(to) != 0)
        throw failed(to.path() + " is not empty; a store is copied only into an empty one");
    CopyCount count;
    for (const StoreTable& t : kTables) {
        std::string marks;
        for (int c = 1; c <= t.count; ++c) marks += (c > 1 ? ", ?" : "?");
        Statement in(to, std::string("INSERT INTO ") + t.name + "(" + t.columns + ") VALUES (" +
                             marks + ")");
        Statement out(from, selectAll(t));
        std::int64_t rows = 0;
        while (out.step()) {
            const Row row = readRow(out, t.count);
            for (int c = 0; c < t.count; ++c)
                if (row[static_cast<std::size_t>(c)])
                    in.bind(c + 1, *row[static_cast<std::size_t>(c)]);
            in.step();
            in.reset();
            ++rows;
        }
        if (t.name == std::string("users")) count.users = rows;
        if (t.name == std::string("limits")) count.items = rows;
        if (t.name == std::string("audit")) count.auditRows = rows;
    }
    continueIds(to, issuedAuditIds(from));
    appendAudit(to, {actor, "store_import", from.path(),
                     std::to_string(count.users) + " users, " + std::to_string(count.items) +
                         " items, " + std::to_string(count.auditRows) + " audit rows",
                     "ok"});
    write.commit();
    read.commit();
    return count;
}

void verifyCopy(Database& from, Database& to) {
    Transaction a(from, Transaction::Kind::Read);
    Transaction b(to, Transaction::Kind::Read);
    const auto lastCopied = queryInt(from, "SELECT coalesce(max(id), 0) FROM audit");
    const std::string copied = " WHERE id <= " + std::to_string(lastCopied);
    for (const StoreTable& t : kTables) {
        Statement x(from, selectAll(t));
        Statement y(to, selectAll(t, t.name == std::string("audit") ? copied.c_str() : ""));
        for (std::int64_t n = 1;; ++n) {
            const bool more = x.step();
            if (more != y.step() || (more && readRow(x, t.count) != readRow(y, t.count)))
                throw failed("the copy differs from its source in table " + std::string(t.name) +
                             " at row " + std::to_string(n));
            if (!more) break;
        }
    }
    if (const auto broken = verifyChain(to))
        throw failed("the copy's audit trail is broken at " + broken->reason);
}

}  // namespace keyward::cli
