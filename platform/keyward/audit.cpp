#include "audit.h"

#include <gcrypt.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>

namespace keyward {

namespace {

struct Row {
    std::int64_t id = 0;
    std::string at;
    std::optional<std::string> actor;
    std::string action;
    std::optional<std::string> target;
    std::optional<std::string> detail;
    std::string outcome;
    std::int64_t pid = 0;
};

// Length-prefixed, so no choice of texts can make two rows hash alike; a
// missing text differs from an empty one.
void put(std::string& out, const std::optional<std::string>& field) {
    if (!field) {
        out += "N;";
        return;
    }
    out += std::to_string(field->size()) + ":" + *field + ";";
}

std::string link(const std::string& previous, const Row& row) {
    std::string data;
    put(data, previous);
    put(data, std::to_string(row.id));
    put(data, row.at);
    put(data, row.actor);
    put(data, row.action);
    put(data, row.target);
    put(data, row.detail);
    put(data, row.outcome);
    put(data, std::to_string(row.pid));

    // libgcrypt rather than OpenSSL: the desktop's own libraries load it
    // already, so the program's start pays for no further library.
    static const bool s_ready = gcry_check_version(GCRYPT_VERSION) != nullptr;
    if (!s_ready) throw DbError(SQLITE_ERROR, "cannot hash the audit trail: libgcrypt too old");
    unsigned char digest[32];
    gcry_md_hash_buffer(GCRY_MD_SHA256, digest, data.data(), data.size());
    std::string hex;
    char buf[3];
    for (unsigned int i = 0; i < sizeof digest; ++i) {
        std::snprintf(buf, sizeof buf, "%02x", digest[i]);
        hex += buf;
    }
    return hex;
}

std::string utcNow() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>(millis));
    return buf;
}

constexpr const char* kRowColumns = "id, at, actor, action, target, detail, outcome, pid";

Row readRow(const Statement& st) {
    return {st.integer(0), st.text(1),    st.optText(2), st.text(3),
            st.optText(4), st.optText(5), st.text(6),    st.integer(7)};
}

std::string lastLink(Database& db) {
    Statement st(db, "SELECT coalesce(hash, '') FROM audit ORDER BY id DESC LIMIT 1");
    return st.step() ? st.text(0) : std::string();
}

// The id the next row gets: none is ever reused, not even the id of a
// removed last row, so removing rows at the end leaves a gap too.
std::int64_t nextId(Database& db) {
    return std::max(issuedAuditIds(db), queryInt(db, "SELECT coalesce(max(id), 0) FROM audit")) + 1;
}

}  // namespace

// AUTOINCREMENT's sqlite_sequence; on a server the audit_issued row, as a
// sequence would not roll back with its transaction.
std::int64_t issuedAuditIds(Database& db) {
    return queryInt(db, db.server() != nullptr ? "SELECT last FROM audit_issued"
                                               : "SELECT ifnull(max(seq), 0) FROM sqlite_sequence "
                                                 "WHERE name = 'audit'");
}

void appendAudit(Database& db, const AuditEntry& entry) {
    Row row{nextId(db),   utcNow(),     entry.actor,   entry.action,
            entry.target, entry.detail, entry.outcome, static_cast<std::int64_t>(getpid())};
    const std::string hash = link(lastLink(db), row);
    Statement st(db,
                 "INSERT INTO audit(id, at, actor, action, target, detail, outcome, pid, hash) "
                 "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
    st.bind(1, row.id).bind(2, row.at);
    if (row.actor) st.bind(3, *row.actor);
    st.bind(4, row.action);
    if (row.target) st.bind(5, *row.target);
    if (row.detail) st.bind(6, *row.detail);
    st.bind(7, row.outcome).bind(8, row.pid).bind(9, hash);
    st.step();
    if (db.server() != nullptr) {
        Statement issued(db, "UPDATE audit_issued SET last = ?");
        issued.bind(1, row.id);
        issued.step();
    }
}

void chainUnlinkedRows(Database& db) {
    std::string previous;
    Statement rows(db, std::string("SELECT ") + kRowColumns + ", hash FROM audit ORDER BY id");
    Statement update(db, "UPDATE audit SET hash = ? WHERE id = ?");
    while (rows.step()) {
        if (auto stored = rows.optText(8)) {
            previous = *stored;
            continue;
        }
        const Row row = readRow(rows);
        previous = link(previous, row);
        update.bind(1, previous).bind(2, row.id);
        update.step();
        update.reset();
    }
}

std::optional<ChainBreak> verifyChain(Database& db) {
    std::string previous;
    std::int64_t expectedId = 1;
    Statement rows(
        db, std::string("SELECT ") + kRowColumns + ", coalesce(hash, '') FROM audit ORDER BY id");
    while (rows.step()) {
        const Row row = readRow(rows);
        if (row.id != expectedId)
            return ChainBreak{row.id, "row " + std::to_string(row.id) + ": row(s) " +
                                          std::to_string(expectedId) + ".." +
                                          std::to_string(row.id - 1) + " are missing"};
        const std::string stored = rows.text(8);
        if (link(previous, row) != stored)
            return ChainBreak{row.id, "row " + std::to_string(row.id) +
                                          ": does not match its link (it or the row before it "
                                          "was changed or removed)"};
        previous = stored;
        ++expectedId;
    }
    const auto issued = issuedAuditIds(db);
    if (issued >= expectedId)
        return ChainBreak{expectedId, "row(s) " + std::to_string(expectedId) + ".." +
                                          std::to_string(issued) + " at the end are missing"};
    return std::nullopt;
}

}  // namespace keyward
