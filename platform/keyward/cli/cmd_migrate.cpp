#include "command.h"
#include "commands.h"
#include "copy.h"

namespace keyward::cli {

const char* MigrateCommand::help() const {
    return "usage: keyward migrate --to LOCATION\n"
           "\n"
           "Copies the store (users with their password hashes, the permission\n"
           "items in order, the settings and the whole audit trail with its links)\n"
           "into the empty store at LOCATION, a postgresql:// URI or a file, which\n"
           "is created as needed, then compares the copy with its source row by row\n"
           "and checks its audit chain. The copy's trail gains one row recording the\n"
           "move. Stations are pointed at the new store afterwards.\n";
}

std::string MigrateCommand::run(const Args& args) {
    const auto to = args.value("--to");
    if (!to || to->empty()) throw usageError("option --to is required");
    Database source = openExisting(OpenMode::ReadOnly);
    try {
        Database target(*to, OpenMode::Create);
        const CopyCount n = copyStore(source, target, operatingSystemActor());
        verifyCopy(source, target);
        return "copied " + std::to_string(n.users) + " users, " + std::to_string(n.items) +
               " items and " + std::to_string(n.auditRows) + " audit rows from " + source.path() +
               " to " + target.path() + "; the copy matches\n";
    } catch (const DbError& e) {
        throw dbFailure(e);
    }
}

}  // namespace keyward::cli
