#include "paths.h"

#include "connection.h"
#include "setbank.h"
#include "xdg.h"

namespace keyward {

namespace {

std::string setting(const char* section, const char* key) {
    char value[4096];
    if (setbank_get(section, key, value, sizeof value) > 0) return value;
    return {};
}

std::string origin(const char* section, const char* key) {
    char file[4096];
    if (setbank_origin(section, key, file, sizeof file) > 0) return file;
    return "the configuration";
}

}  // namespace

std::string configSetting(const char* section, const char* key, const std::string& fallback) {
    const std::string value = setting(section, key);
    return value.empty() ? fallback : value;
}

std::string serviceSetting(const char* key, const std::string& fallback) {
    return configSetting("service", key, fallback);
}

StoreChoice storeChoice() {
    // Read afresh each time the store opens: a site's change applies at the
    // next start without a stale copy, and a bad file is never half-used.
    if (setbank_reload() != 0) {
        char why[1024];
        setbank_error(why, sizeof why);
        throw DbError(Fault::Unavailable, std::string("bad configuration: ") + why);
    }
    const std::string location = setting("store", "location");
    if (location == "system")
        return {StoreChoice::Kind::System,
                {},
                serviceSetting("socket", kDefaultSocket),
                origin("store", "location") + " names the system store"};
    if (std::string path = xdg::environment("KEYWARD_DB"); !path.empty())
        return {StoreChoice::Kind::Personal, path, {}, "KEYWARD_DB"};
    if (!location.empty())
        return {StoreChoice::Kind::Personal, location, {}, origin("store", "location")};
    return {StoreChoice::Kind::Personal,
            xdg::baseFolder("XDG_DATA_HOME", ".local/share") + "/varnock/keyward.db",
            {},
            "the personal default"};
}

std::string databasePath() {
    const StoreChoice choice = storeChoice();
    if (choice.kind == StoreChoice::Kind::System)
        throw DbError(Fault::Unavailable, choice.why + "; only the account service opens it");
    return choice.location;
}

}  // namespace keyward
