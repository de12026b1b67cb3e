#pragma once

#include <string>

namespace keyward {

// $KEYWARD_DB, else $XDG_DATA_HOME/varnock/keyward.db, else
// ~/.local/share/varnock/keyward.db.
std::string databasePath();

}  // namespace keyward
