#include <sys/stat.h>

#include <cstdio>

#include "command.h"
#include "commands.h"
#include "sqlite_connection.h"
#include "table.h"

namespace keyward::cli {

namespace {

// What a personal store leaves open, said beside its checks.
std::vector<std::string> personalWarnings(const StoreChoice& choice) {
    std::vector<std::string> warnings = {
        "warning: a personal store protects nothing from its owner, who may edit the file "
        "and its audit key; a plant's stations use the system store (keyward init --system)"};
    if (isServerLocation(choice.location)) return warnings;
    struct stat st {};
    if (stat(auditKeyFile(choice.location).c_str(), &st) == 0 && (st.st_mode & 0077) != 0)
        warnings.push_back("warning: the audit key " + auditKeyFile(choice.location) +
                           " may be read by others");
    return warnings;
}

}  // namespace

const char* CheckCommand::help() const {
    return "usage: keyward check\n"
           "\n"
           "Says which store is in use and why, then runs SQLite's integrity check (a\n"
           "server keeps its own) and the store's own checks: at most 32 items,\n"
           "unique names, levels 0..4, 32-bit masks, names and titles valid CP936 of\n"
           "at most 31 bytes, the audit trail append-only and each of its rows\n"
           "linked to the one before under the store's key (the first row that does\n"
           "not verify is named; on a server the server's own function verifies).\n"
           "On a server it also checks the rights: no role but the store's owner\n"
           "holds any right on a table (keyward_station none, through any role),\n"
           "and every function of the stations runs as the owner (SECURITY DEFINER)\n"
           "with its search_path fixed. Each problem is one line on standard error,\n"
           "and the exit status is 1. It warns (exit status 0) when the server's\n"
           "password is where others may read it: in the location, or in a passfile\n"
           "or service file with rights for group or others, and where the location\n"
           "names several servers, when the one reached takes no writes or another\n"
           "takes writes too. A personal store is opened read-only; the system store\n"
           "is checked by the account service, for root and the admin group.\n";
}

std::string CheckCommand::run(const Args&) {
    const StoreChoice choice = configuredStore();
    const auto calls = openStore(Access::Inspect);
    CheckReport report;
    const Status status = calls->check(report);
    if (status != Status::Ok) throw storeFailure(status, *calls);
    // A readable credential is worth saying beside any problem.
    for (const auto& warning : report.warnings)
        std::fprintf(stderr, "keyward: warning: %s\n",
                     escapeControls(warning, Readers::People).c_str());
    if (!report.problems.empty()) {
        std::string all;
        // A problem may quote a stored text, whatever it holds.
        for (const auto& p : report.problems)
            all += (all.empty() ? "" : "\nkeyward: ") + escapeControls(p, Readers::People);
        throw failed(all);
    }
    std::string out = "store: ";
    if (choice.kind == StoreChoice::Kind::System)
        out += "the system store (" + report.location + ") through the account service at " +
               choice.socket + ", as " + choice.why + "\n";
    else
        out += report.location + ", chosen by " + choice.why + "\n";
    if (choice.kind == StoreChoice::Kind::Personal)
        for (const auto& warning : personalWarnings(choice))
            std::fprintf(stderr, "keyward: %s\n", warning.c_str());
    return out + "ok: " + std::to_string(report.users) + " users, " + std::to_string(report.items) +
           " items\n";
}

}  // namespace keyward::cli
