// A whole store copied into an empty one, on either engine, and the copy
// compared with its source.
#pragma once

#include <cstdint>
#include <string>

#include "connection.h"

namespace keyward {

struct CopyCount {
    std::int64_t users = 0, items = 0, auditRows = 0;
};

// Copies users (with their hashes and ids), items in order, settings and the
// whole audit trail into to, which must hold no user, item or audit row; one
// transaction on each side. The copied trail is linked anew under the
// copy's own key; a row recording the move (by actor) closes it and says
// where the source's trail was already broken, if it was. Throws DbError
// (Fault::Failed naming the reason when to is not empty).
CopyCount copyStore(Connection& from, Connection& to, const std::string& actor);

// Throws DbError naming the first difference between the source and the copy
// (links and the row recording the move left out), or a break in the
// copy's audit trail.
void verifyCopy(Connection& from, Connection& to);

}  // namespace keyward
