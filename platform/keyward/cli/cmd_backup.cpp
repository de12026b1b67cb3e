#include "command.h"
#include "commands.h"

namespace keyward::cli {

const char* BackupCommand::help() const {
    return "usage: keyward backup FILE\n"
           "\n"
           "Copies the store to FILE (mode 0600), an SQLite store, with its audit key\n"
           "beside it in FILE.key, while programs go on using the store. FILE must\n"
           "not exist. An SQLite store is copied page by page; a server's store from\n"
           "one snapshot, row by row, and compared afterwards, its trail linked under\n"
           "the copy's own key with a row recording the copy. 'keyward migrate --to'\n"
           "puts a copy back on an empty server. The system store is copied by the\n"
           "account service, for root and the admin group.\n";
}

std::string BackupCommand::run(const Args& args) {
    const std::string& file = args.positional[0];
    const auto calls = openStore(Access::Inspect);
    const Status status = calls->snapshot(file);
    if (status != Status::Ok) throw storeFailure(status, *calls);
    return "backed up " + calls->location() + " to " + file + "\n";
}

}  // namespace keyward::cli
