#pragma once

#include <string>

namespace keyward {

// Where the store is: a file path or a postgresql:// URI. $KEYWARD_DB, else
// [store] location in the configuration (libsetbank), else
// $XDG_DATA_HOME/varnock/keyward.db, else ~/.local/share/varnock/keyward.db.
// Throws DbError naming the file and line of a bad configuration.
std::string databasePath();

}  // namespace keyward
