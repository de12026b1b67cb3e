#include "audit.h"
#include "command.h"
#include "commands.h"
#include "server.h"

namespace keyward::cli {

namespace {

using Problems = std::vector<std::string>;

void integrity(Database& db, Problems& problems) {
    if (db.server() != nullptr) return;  // the server's own business
    Statement st(db, "PRAGMA integrity_check");
    while (st.step())
        if (st.text(0) != "ok") problems.push_back("integrity: " + st.text(0));
    Statement fk(db, "PRAGMA foreign_key_check");
    if (fk.step()) problems.push_back("integrity: foreign key violation in table " + fk.text(0));
}

// Every text must go back to CP936 within the field the call interface has.
void texts(Database& db, const char* sql, const char* what, bool mayBeEmpty, Problems& problems) {
    Statement st(db, sql);
    while (st.step()) {
        const std::string text = st.text(0);
        const TextArg arg = fromUtf8(text, mayBeEmpty ? kTitleRule : kNameRule);
        if (arg.fault == TextFault::TooLong)
            problems.push_back(std::string(what) + " longer than 31 bytes: " + text);
        else if (!arg.ok())
            problems.push_back(std::string(what) + " not valid text: " + text);
    }
}

std::int64_t schemaVersion(Database& db) {
    return db.server() != nullptr ? db.server()->schemaVersion()
                                  : queryInt(db, "PRAGMA user_version");
}

// The triggers, and on a server the stations' role without the right to
// change or remove rows.
bool appendOnly(Database& db) {
    if (db.server() == nullptr)
        return queryInt(db,
                        "SELECT count(*) FROM sqlite_master WHERE type = 'trigger' AND name IN "
                        "('audit_no_update', 'audit_no_delete')") == 2;
    return queryInt(db,
                    "SELECT count(*) FROM pg_trigger WHERE tgrelid = 'audit'::regclass AND "
                    "tgname IN ('audit_no_update', 'audit_no_delete', 'audit_no_truncate')") == 3 &&
           queryInt(db,
                    "SELECT count(*) FROM unnest(ARRAY['UPDATE', 'DELETE', 'TRUNCATE']) p "
                    "WHERE has_table_privilege('keyward_station', 'audit', p)") == 0;
}

void invariants(Database& db, Problems& problems) {
    const auto expected = db.server() != nullptr ? kServerSchemaVersion : kSchemaVersion;
    const auto version = schemaVersion(db);
    if (version != expected)
        problems.push_back("schema version " + std::to_string(version) + ", expected " +
                           std::to_string(expected));
    if (const auto n = queryInt(db, "SELECT count(*) FROM limits"); n > KEYWARD_MAX_LIMITS)
        problems.push_back(std::to_string(n) + " permission items, at most 32");
    if (queryInt(db, "SELECT count(*) - count(DISTINCT name) FROM users") != 0)
        problems.push_back("user names not unique");
    if (queryInt(db, "SELECT count(*) - count(DISTINCT name) FROM limits") != 0)
        problems.push_back("item names not unique");
    if (const auto n = queryInt(db, "SELECT count(*) FROM users WHERE level NOT BETWEEN 0 AND 4");
        n != 0)
        problems.push_back(std::to_string(n) + " user(s) with a level outside 0..4");
    if (const auto n =
            queryInt(db, "SELECT count(*) FROM users WHERE mask NOT BETWEEN 0 AND 4294967295");
        n != 0)
        problems.push_back(std::to_string(n) + " user(s) with a mask outside 32 bits");
    if (!appendOnly(db)) problems.push_back("the audit trail is no longer append-only");
    // A store not yet upgraded (read-only here) has no chain to check; an
    // embedded store's chain came with schema 2, a server's with its first.
    if (version >= (db.server() != nullptr ? 1 : 2))
        if (const auto broken = verifyChain(db))
            problems.push_back("audit trail broken at " + broken->reason);
    texts(db, "SELECT name FROM users", "user name", false, problems);
    texts(db, "SELECT name FROM limits", "item name", false, problems);
    texts(db, "SELECT title FROM limits", "item title", true, problems);
}

}  // namespace

const char* CheckCommand::help() const {
    return "usage: keyward check\n"
           "\n"
           "Runs SQLite's integrity check (a server keeps its own) and the store's\n"
           "own checks: at most 32 items, unique names, levels 0..4, 32-bit masks,\n"
           "names and titles valid CP936 of at most 31 bytes, the audit trail\n"
           "append-only (on a server also by the stations' role's rights) and each\n"
           "of its rows linked to the one before (the first broken row is named).\n"
           "Each problem is one line on standard error. Opens the database\n"
           "read-only.\n";
}

std::string CheckCommand::run(const Args&) {
    Database db = openExisting(OpenMode::ReadOnly);
    Problems problems;
    std::int64_t users = 0;
    std::int64_t items = 0;
    try {
        Transaction tx(db, Transaction::Kind::Read);
        integrity(db, problems);
        invariants(db, problems);
        users = queryInt(db, "SELECT count(*) FROM users");
        items = queryInt(db, "SELECT count(*) FROM limits");
        tx.commit();
    } catch (const DbError& e) {
        throw dbFailure(e);
    }
    if (!problems.empty()) {
        std::string all;
        for (const auto& p : problems) all += (all.empty() ? "" : "\nkeyward: ") + p;
        throw failed(all);
    }
    return "ok: " + std::to_string(users) + " users, " + std::to_string(items) + " items\n";
}

}  // namespace keyward::cli
