#include "paths.h"

#include "database.h"
#include "setbank.h"
#include "xdg.h"

namespace keyward {

std::string databasePath() {
    std::string path = xdg::environment("KEYWARD_DB");
    if (!path.empty()) return path;
    // Read afresh each time the store opens: a site's change applies at the
    // next start without a stale copy, and a bad file is never half-used.
    if (setbank_reload() != 0) {
        char why[1024];
        setbank_error(why, sizeof why);
        throw DbError(SQLITE_CANTOPEN, std::string("bad configuration: ") + why);
    }
    char location[4096];
    if (setbank_get("store", "location", location, sizeof location) > 0) return location;
    return xdg::baseFolder("XDG_DATA_HOME", ".local/share") + "/varnock/keyward.db";
}

}  // namespace keyward
