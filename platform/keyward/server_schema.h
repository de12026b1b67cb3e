// The store's schema on a PostgreSQL server: its tables, and the functions
// through which stations use them. A station's role (keyward_station) may
// run those functions and touch no table; each function runs as the store's
// owner, checks its arguments and the rules, makes its change and writes its
// audit row, linked under a key only the owner reads, in the caller's
// transaction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "connection.h"

namespace keyward {

// The server schema's version (table keyward_schema), counted apart from the
// SQLite file's: each engine's schema moves on with steps of its own.
inline constexpr int kServerSchemaVersion = 3;

// The SQL of step k, which brings the schema from version k to k + 1 (step 0
// makes the first schema). Tests make older stores with it.
const char* serverSchemaStep(std::size_t k);

// Brings db's schema from version from to kServerSchemaVersion: every step
// with what it needs besides its SQL, and the version noted. Inside the
// caller's write transaction, as the store's owner.
void upgradeServerSchema(Connection& db, std::int64_t from);

// What the server's catalog says is wrong with the store's protection, one
// line each: the audit trail's triggers gone, a right on a table of the
// store held by any role but its owner (keyward_station's through any role
// it belongs to), a station's function missing, run as its caller, without
// its fixed search_path, or open to PUBLIC. Any role may ask.
std::vector<std::string> serverProtectionProblems(Connection& db);

}  // namespace keyward
