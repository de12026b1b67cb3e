#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "command.h"
#include "commands.h"
#include "password.h"
#include "setbank.h"
#include "terminal.h"

namespace keyward::cli {

namespace {

// The system configuration's file as libsetbank reads it: /etc's, or the
// stand-in tests name.
std::string systemFile() {
    const char* standIn = std::getenv("SETBANK_SYSTEM_FILE");
    if (standIn != nullptr && *standIn != '\0') {
        std::ifstream real("/etc/varnock/varnock.conf");
        std::stringstream text;
        text << real.rdbuf();
        if (text.str().find("location = system") == std::string::npos) return standIn;
    }
    return "/etc/varnock/varnock.conf";
}

// Makes the system configuration name the system store: a [store] section
// saying so is added when the file has no location yet; a file that names
// another store is left for its administrator to change.
std::string nameSystemStore() {
    const StoreChoice choice = configuredStore();
    if (choice.kind == StoreChoice::Kind::System) return choice.why + "\n";
    const std::string file = systemFile();
    char location[4096];
    if (setbank_get("store", "location", location, sizeof location) > 0)
        throw failed("the configuration names the store " + std::string(location) +
                     "; set location = system in [store] of " + file + " first");
    ::mkdir("/etc/varnock", 0755);
    std::ofstream out(file, std::ios::app);
    out << "\n[store]\n; The system store: every program asks the account service (keywardd).\n"
           "location = system\n";
    out.close();
    if (!out) throw failed("cannot write " + file + "; are you root?");
    if (configuredStore().kind != StoreChoice::Kind::System)
        throw failed(file + " does not name the system store");
    return "wrote location = system to " + file + "\n";
}

}  // namespace

const char* InitCommand::help() const {
    return "usage: keyward init [--admin NAME] [--password-stdin] [--store LOCATION | --system]\n"
           "\n"
           "Creates the account database, registers the item sys_limit (系统权限)\n"
           "and the first administrator NAME (default root) at level 4 holding every\n"
           "item. The password is asked twice on the terminal, or read as one line\n"
           "from standard input with --password-stdin. Refused once users exist.\n"
           "The password hash cost is fitted to this machine (about 100 ms a check)\n"
           "and kept in the database for every later password.\n"
           "\n"
           "  --store LOCATION     the store to create instead of the configured one:\n"
           "                       a file, or postgresql://HOST/DATABASE (run as the\n"
           "                       database's owner; creates the tables, the functions\n"
           "                       stations call and the role keyward_station that\n"
           "                       stations' roles are granted: it may run those\n"
           "                       functions and touch no table)\n"
           "  --system             the system store, once, as root: makes\n"
           "                       /etc/varnock/varnock.conf name it (location = system)\n"
           "                       and has the account service create it\n";
}

std::string InitCommand::run(const Args& args) {
    const TextArg admin = nameArg(args.value("--admin").value_or("root"), "administrator name");
    if (args.has("--system") && args.has("--store"))
        throw usageError("--system and --store name different stores");
    std::string done;
    if (args.has("--system")) done = nameSystemStore();
    const auto calls = openStore(Access::Create, args.value("--store"));
    const SecretString password = newPassword(args.has("--password-stdin"));
    // Verifying a password should take about 100 ms on this machine: slow
    // for guessing, quick at a login. $KEYWARD_HASH_COST overrides (tests).
    const auto fromEnvironment = hashCostFromEnvironment();
    const unsigned long cost =
        fromEnvironment ? *fromEnvironment : fitHashCost(std::chrono::milliseconds(100));
    const Status status = calls->initialise(admin.cp936.c_str(), password.c_str(), cost);
    if (status != Status::Ok) throw storeFailure(status, *calls);
    return done + "initialised " + calls->location() + " with administrator " + admin.utf8.str() +
           "\n";
}

}  // namespace keyward::cli
