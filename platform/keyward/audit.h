// The audit trail: append-only rows, each carrying a hash chained to the
// row before it, so a row removed or changed behind the triggers' back is
// found by verifyChain.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "database.h"

namespace keyward {

// One row as the store writes it. Texts are UTF-8; no password ever.
struct AuditEntry {
    std::optional<std::string> actor;  // logged-in user, none before a login
    std::string action;
    std::optional<std::string> target;
    std::optional<std::string> detail;
    std::string outcome;
};

// Appends entry with the current UTC time and this process's id, chained to
// the last row. Must run inside a write transaction.
void appendAudit(Database& db, const AuditEntry& entry);

// Gives every row without a hash its link, in id order (rows written before
// the trail was chained). Inside the migration's write transaction.
void chainUnlinkedRows(Database& db);

// The last audit id ever handed out, removed rows included.
std::int64_t issuedAuditIds(Database& db);

struct ChainBreak {
    std::int64_t id;     // the first row that does not fit
    std::string reason;  // one line for people
};

// The first row whose link does not match, whose id leaves a gap, or the
// trail's end when rows after the last one were removed; nullopt when the
// whole trail holds together.
std::optional<ChainBreak> verifyChain(Database& db);

}  // namespace keyward
