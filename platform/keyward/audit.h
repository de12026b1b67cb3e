// The audit trail: append-only rows, each carrying a link to the row before
// it, so a row removed or changed behind the triggers' back is found by
// verifyChain. A store's links are HMAC-SHA-256 under a key only the store's
// owner can read (Connection::auditKey), so whoever edits the rows cannot
// mend the links; older stores are linked by plain SHA-256 until keyed. A
// server's own functions link the rows its stations write the same way
// (server_schema.cpp), so a trail verifies on either engine.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "connection.h"

namespace keyward {

// A time in seconds since the epoch as UTC, to the second
// (2026-01-31T08:00:00Z), as the trail's times read.
std::string utcText(std::int64_t seconds);

// One row as the store writes it. Texts are UTF-8; no password ever.
struct AuditEntry {
    std::optional<std::string> actor;  // logged-in user, none before a login
    std::string action;
    std::optional<std::string> target;
    std::optional<std::string> detail;
    std::string outcome;
    // Who asked: the operating-system user and process, and the station.
    std::optional<std::string> osUser;
    std::int64_t pid = 0;
    std::optional<std::string> host;
    // The station's address as a server saw it.
    std::optional<std::string> address;
};

// The audit columns in the order "id, at, actor, action, target, detail,
// outcome, pid, os_user, host, address", NULL for those an older schema
// lacks.
std::string auditColumns(Connection& db);

// Appends entry with the current UTC time, linked to the last row. Must run
// inside a write transaction. Throws DbError when the store's key is missing.
void appendAudit(Connection& db, const AuditEntry& entry);

// Gives every row without a link its link, in id order (rows written before
// the trail was linked). Inside the migration's write transaction.
void chainUnlinkedRows(Connection& db);

// Links the whole trail anew under the store's key (made now when missing)
// and marks the store keyed; a trail that no longer held together before is
// recorded in a row of its own, so keying launders nothing. Inside a write
// transaction with the update trigger lifted. No key (a store in memory):
// nothing happens.
void keyTheChain(Connection& db);

// Rows copied in from another store, in id order, each linked under this
// store's own scheme as it comes. Inside the copy's write transaction.
class CopiedTrail {
public:
    explicit CopiedTrail(Connection& db);
    ~CopiedTrail();
    void add(std::int64_t id, const std::string& at, const AuditEntry& row);

private:
    Connection& m_db;
    std::optional<AuditKey> m_key;
    bool m_address;
    std::string m_previous;
};

struct ChainBreak {
    std::int64_t id;     // the first row that does not fit
    std::string reason;  // one line for people
};

// The first row whose link does not match, whose id leaves a gap, or the
// trail's end when rows after the last one were removed; nullopt when the
// whole trail holds together. Throws DbError when the key is needed and
// cannot be read.
std::optional<ChainBreak> verifyChain(Connection& db);

}  // namespace keyward
