// A whole store copied into an empty one, on either engine, and the copy
// compared with its source.
#pragma once

#include <string>

#include "database.h"

namespace keyward::cli {

struct CopyCount {
    std::int64_t users = 0, items = 0, auditRows = 0;
};

// Copies users (with their hashes and ids), items in order, settings and
// the whole audit trail with its links into to, which must hold nothing;
// one transaction on each side. actor names who moved it in the new row
// that records the move. Throws a Failure or DbError.
CopyCount copyStore(Database& from, Database& to, const std::string& actor);

// Throws a Failure naming the first difference between the source and the
// copy (the copy's own row recording the move left out), or a break in the
// copy's audit chain.
void verifyCopy(Database& from, Database& to);

}  // namespace keyward::cli
