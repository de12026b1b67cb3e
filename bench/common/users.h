// A store with many users for the benchmarks, and the raw SQLite anchor
// (rawscan.h) that reads it.
#pragma once

#include <string>

#include "rawscan.h"

namespace bench {

// Makes a store at path holding `users` users: "admin" (password "admin",
// level 4) through the store's calls, the rest written straight into the
// file in one transaction, since hashing 100,000 passwords would take
// minutes. Every tenth name is Chinese; masks spread over eight items.
// Points KEYWARD_DB at path.
void makeStore(const std::string& path, int users);

// A temporary folder, removed with everything in it at the end of the run.
std::string tempFolder();

}  // namespace bench
