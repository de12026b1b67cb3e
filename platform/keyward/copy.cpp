#include "copy.h"

#include <unistd.h>

#include <array>
#include <optional>
#include <vector>

#include "audit.h"
#include "caller.h"

namespace keyward {

namespace {

struct StoreTable {
    const char* name;
    const char* columns;
    int count;
    const char* order;
    const char* where;  // the rows that are the store's own, not the engine's
};

// Every row of the store; a table's ids keep list order and audit ids. The
// audit links are not copied: the copy links its trail under its own key.
// Settings that describe the copy itself (its audit keying) stay its own.
constexpr std::array<StoreTable, 4> kTables = {{
    {"users", "id, name, level, mask, hash", 5, "id", ""},
    {"limits", "id, name, title", 3, "id", ""},
    {"settings", "key, value", 2, "key", " WHERE key <> 'audit_chain'"},
    {"audit", "id, at, actor, action, target, detail, outcome, pid, os_user, host, address", 11,
     "id", ""},
}};

using Row = std::vector<std::optional<std::string>>;

std::string selectAll(Connection& db, const StoreTable& t, const std::string& where) {
    // A source from before the trail named who asked reads without it.
    const std::string columns = t.name == std::string("audit") ? auditColumns(db) : t.columns;
    return "SELECT " + columns + " FROM " + t.name + where + " ORDER BY " + t.order;
}

Row readRow(const Statement& st, int count) {
    Row row;
    for (int c = 0; c < count; ++c) row.push_back(st.optText(c));
    return row;
}

bool holdsAccounts(Connection& db) {
    return queryInt(db,
                    "SELECT (SELECT count(*) FROM users) + (SELECT count(*) FROM limits) + "
                    "(SELECT count(*) FROM audit)") != 0;
}

}  // namespace

CopyCount copyStore(Connection& from, Connection& to, const std::string& actor) {
    Transaction read(from, TxKind::Read);
    Transaction write(to, TxKind::Write);
    if (holdsAccounts(to))
        throw DbError(Fault::Failed,
                      to.path() + " is not empty; a store is copied only into an empty one");
    const auto broken = verifyChain(from);
    CopyCount count;
    for (const StoreTable& t : kTables) {
        const bool audit = t.name == std::string("audit");
        std::string marks;
        for (int c = 1; c <= t.count; ++c) marks += (c > 1 ? ", ?" : "?");
        Statement in(to, std::string("INSERT INTO ") + t.name + "(" + t.columns + ") VALUES (" +
                             marks + ")");
        CopiedTrail trail(to);
        Statement out(from, selectAll(from, t, t.where));
        std::int64_t rows = 0;
        while (out.step()) {
            ++rows;
            if (audit) {
                trail.add(out.integer(0), out.text(1),
                          {out.optText(2), out.text(3), out.optText(4), out.optText(5), out.text(6),
                           out.optText(8), out.integer(7), out.optText(9), out.optText(10)});
                continue;
            }
            const Row row = readRow(out, t.count);
            for (int c = 0; c < t.count; ++c) in.bind(c + 1, row[static_cast<std::size_t>(c)]);
            in.step();
            in.reset();
        }
        if (t.name == std::string("users")) count.users = rows;
        if (t.name == std::string("limits")) count.items = rows;
        if (t.name == std::string("audit")) count.auditRows = rows;
    }
    to.continueIds(from.issuedAuditIds());
    std::string detail = std::to_string(count.users) + " users, " + std::to_string(count.items) +
                         " items, " + std::to_string(count.auditRows) + " audit rows";
    // The copy's links are its own: a break in the source must not vanish.
    if (broken) detail += "; the source's trail was broken at " + broken->reason;
    const Caller self = thisProcess();
    appendAudit(to, {actor, "store_import", from.path(), detail, broken ? "broken" : "ok",
                     self.osUser, self.pid, self.host, std::nullopt});
    write.commit();
    read.commit();
    return count;
}

void verifyCopy(Connection& from, Connection& to) {
    Transaction a(from, TxKind::Read);
    Transaction b(to, TxKind::Read);
    const auto lastCopied = queryInt(from, "SELECT coalesce(max(id), 0) FROM audit");
    for (const StoreTable& t : kTables) {
        const bool audit = t.name == std::string("audit");
        const std::string copied = audit ? " WHERE id <= " + std::to_string(lastCopied) : t.where;
        Statement x(from, selectAll(from, t, t.where));
        Statement y(to, selectAll(to, t, copied));
        for (std::int64_t n = 1;; ++n) {
            const bool more = x.step();
            if (more != y.step() || (more && readRow(x, t.count) != readRow(y, t.count)))
                throw DbError(Fault::Failed, "the copy differs from its source in table " +
                                                 std::string(t.name) + " at row " +
                                                 std::to_string(n));
            if (!more) break;
        }
    }
    if (const auto broken = verifyChain(to))
        throw DbError(Fault::Failed, "the copy's audit trail is broken at " + broken->reason);
}

}  // namespace keyward
