// Where the store is, and why there.
#pragma once

#include <string>

namespace keyward {

inline constexpr const char* kDefaultSocket = "/run/varnock/keyward.sock";
inline constexpr const char* kDefaultServiceStore = "/var/lib/varnock/keyward.db";
inline constexpr const char* kDefaultAdminGroup = "varnock-admin";

struct StoreChoice {
    // System: the account service keeps the store and every call goes
    // through its socket; Personal: this process opens location itself.
    enum class Kind { Personal, System } kind = Kind::Personal;
    std::string location;  // Personal: a file path or a postgresql:// URI
    std::string socket;    // System: the account service's socket
    std::string why;       // for people: what chose it
};

// The configuration's choice (libsetbank). A system file that names the
// system store ([store] location = system) is final: $KEYWARD_DB and the
// user's file change nothing. Otherwise $KEYWARD_DB, else [store] location,
// else $XDG_DATA_HOME/varnock/keyward.db, else ~/.local/share/varnock/
// keyward.db. Read afresh each time. Throws DbError naming the file and line
// of a bad configuration.
StoreChoice storeChoice();

// The personal store's location (storeChoice's, for a personal store).
std::string databasePath();

// A setting of the configuration, or fallback.
std::string configSetting(const char* section, const char* key, const std::string& fallback);

// A [service] setting of the system configuration, or fallback.
std::string serviceSetting(const char* key, const std::string& fallback);

}  // namespace keyward
