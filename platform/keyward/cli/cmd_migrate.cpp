#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "command.h"
#include "commands.h"
#include "copy.h"

namespace keyward::cli {

namespace {

// A folder of this process's own, gone with it whatever happens.
class TemporaryFolder {
public:
    TemporaryFolder() {
        std::string path = (std::filesystem::temp_directory_path() / "keyward-XXXXXX").string();
        if (mkdtemp(path.data()) == nullptr) throw failed("cannot make a temporary folder");
        m_path = path;
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    ~TemporaryFolder() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

// Brings the store at location (else the configured one) to this
// program's schema, as the store's owner.
std::string upgrade(const std::optional<std::string>& location) {
    const StoreChoice choice = chosenStore(location);
    if (choice.kind == StoreChoice::Kind::System)
        throw failed(
            "the account service brings the system store up to date when it starts; "
            "a store on a server is upgraded by its owner: keyward migrate --upgrade "
            "--store postgresql://OWNER@HOST/DATABASE");
    try {
        const auto before = openConnection(choice.location, OpenMode::ReadOnly)->schemaVersion();
        const auto store = openConnection(choice.location, OpenMode::Existing);
        const auto after = store->schemaVersion();
        if (before == after)
            return store->path() + " is up to date (schema " + std::to_string(after) + ")\n";
        return "upgraded " + store->path() + " from schema " + std::to_string(before) + " to " +
               std::to_string(after) + "\n";
    } catch (const DbError& e) {
        throw dbFailure(e);
    }
}

}  // namespace

const char* MigrateCommand::help() const {
    return "usage: keyward migrate --to LOCATION\n"
           "       keyward migrate --upgrade [--store LOCATION]\n"
           "\n"
           "Copies the store (users with their password hashes, the permission\n"
           "items in order, the settings and the whole audit trail) into the empty\n"
           "store at LOCATION, a postgresql:// URI or a file, which is created as\n"
           "needed, then compares the copy with its source row by row and checks\n"
           "its audit trail, linked under the copy's own key. The copy's trail gains\n"
           "one row recording the move. The system store is read through a copy the\n"
           "account service makes, for root and the admin group. Stations are\n"
           "pointed at the new store afterwards.\n"
           "\n"
           "With --upgrade, brings the store (the configured one, or LOCATION) to\n"
           "this program's schema in one transaction, as its owner; the audit trail\n"
           "is kept. A server store of an older schema gets the functions its\n"
           "stations call and the grants that keep them off the tables, and its\n"
           "trail is linked anew under a key of its own, in a row recording the\n"
           "keying and any earlier break. Stations of an older schema are refused\n"
           "until then. The account service upgrades a system store in a file\n"
           "itself.\n";
}

std::string MigrateCommand::run(const Args& args) {
    if (args.has("--upgrade")) {
        if (args.has("--to")) throw usageError("--upgrade and --to are two different tasks");
        return upgrade(args.value("--store"));
    }
    if (args.has("--store")) throw usageError("--store goes with --upgrade");
    const auto to = args.value("--to");
    if (!to || to->empty()) throw usageError("option --to or --upgrade is required");
    const StoreChoice choice = configuredStore();
    std::string from = choice.location;
    std::string shown = choice.location;
    TemporaryFolder folder;
    if (choice.kind == StoreChoice::Kind::System) {
        const auto calls = openStore(Access::Inspect);
        from = folder.path() + "/system.db";
        if (const Status status = calls->snapshot(from); status != Status::Ok)
            throw storeFailure(status, *calls);
        shown = calls->location();
    }
    try {
        const auto source = openConnection(from, OpenMode::ReadOnly);
        const auto target = openConnection(*to, OpenMode::Create);
        const CopyCount n = copyStore(*source, *target, operatingSystemActor());
        verifyCopy(*source, *target);
        if (choice.kind == StoreChoice::Kind::Personal) shown = source->path();
        return "copied " + std::to_string(n.users) + " users, " + std::to_string(n.items) +
               " items and " + std::to_string(n.auditRows) + " audit rows from " + shown + " to " +
               target->path() + "; the copy matches\n";
    } catch (const DbError& e) {
        throw dbFailure(e);
    }
}

}  // namespace keyward::cli
