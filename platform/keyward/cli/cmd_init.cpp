#include <cstdlib>

#include "command.h"
#include "commands.h"
#include "password.h"
#include "paths.h"
#include "terminal.h"

namespace keyward::cli {

const char* InitCommand::help() const {
    return "usage: keyward init [--admin NAME] [--password-stdin] [--store LOCATION]\n"
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
           "                       database's owner; creates the schema and the role\n"
           "                       keyward_station that stations' roles are granted)\n";
}

std::string InitCommand::run(const Args& args) {
    const TextArg admin = nameArg(args.value("--admin").value_or("root"), "administrator name");
    if (const auto store = args.value("--store")) setenv("KEYWARD_DB", store->c_str(), 1);
    const SecretString password = newPassword(args.has("--password-stdin"));
    std::string location;
    try {
        // Reports why it cannot be created; a server's name without a password.
        location = Database(databasePath(), OpenMode::Create).path();
    } catch (const DbError& e) {
        throw dbFailure(e);
    }
    // Verifying a password should take about 100 ms on this machine: slow
    // for guessing, quick at a login. $KEYWARD_HASH_COST overrides (tests).
    const auto fromEnvironment = hashCostFromEnvironment();
    const unsigned long cost =
        fromEnvironment ? *fromEnvironment : fitHashCost(std::chrono::milliseconds(100));
    const Status status = adminStore()->initialise(admin.cp936.c_str(), password.c_str(), cost);
    if (status != Status::Ok) throw storeFailure(status);
    return "initialised " + location + " with administrator " + admin.utf8.str() + "\n";
}

}  // namespace keyward::cli
