#include "command.h"
#include "commands.h"
#include "password.h"
#include "paths.h"
#include "terminal.h"

namespace keyward::cli {

const char* InitCommand::help() const {
    return "usage: keyward init [--admin NAME] [--password-stdin]\n"
           "\n"
           "Creates the account database, registers the item sys_limit (系统权限)\n"
           "and the first administrator NAME (default root) at level 4 holding every\n"
           "item. The password is asked twice on the terminal, or read as one line\n"
           "from standard input with --password-stdin. Refused once users exist.\n"
           "The password hash cost is fitted to this machine (about 100 ms a check)\n"
           "and kept in the database for every later password.\n";
}

std::string InitCommand::run(const std::vector<std::string>& argv) {
    const Args args = parseArgs(argv, {{"--admin", true}, {"--password-stdin", false}}, 0);
    const TextArg admin = nameArg(args.value("--admin").value_or("root"), "administrator name");
    const SecretString password = newPassword(args.has("--password-stdin"));
    try {
        Database(databasePath(), OpenMode::Create);  // reports why it cannot be created
    } catch (const DbError& e) {
        throw dbFailure(e);
    }
    // Verifying a password should take about 100 ms on this machine: slow
    // for guessing, quick at a login. $KEYWARD_HASH_COST overrides (tests).
    const auto fromEnvironment = hashCostFromEnvironment();
    const unsigned long cost =
        fromEnvironment ? *fromEnvironment : fitHashCost(std::chrono::milliseconds(100));
    Store store;
    const Status status = store.initialise(admin.cp936.c_str(), password.c_str(), cost);
    if (status != Status::Ok) throw storeFailure(status);
    return "initialised " + databasePath() + " with administrator " + admin.utf8.str() + "\n";
}

}  // namespace keyward::cli
