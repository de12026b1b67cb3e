#include "paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "database.h"
#include "setbank.h"

namespace keyward {

namespace {

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string homeFolder() {
    std::string home = env("HOME");
    if (!home.empty()) return home;
    std::vector<char> buf(16384);
    passwd pw{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found != nullptr)
        return found->pw_dir;
    return "/";
}

}  // namespace

std::string databasePath() {
    std::string path = env("KEYWARD_DB");
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
    // A relative XDG_DATA_HOME is invalid and must be ignored.
    std::string data = env("XDG_DATA_HOME");
    if (data.empty() || data[0] != '/') data = homeFolder() + "/.local/share";
    return data + "/varnock/keyward.db";
}

}  // namespace keyward
