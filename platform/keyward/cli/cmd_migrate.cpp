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

}  // namespace

const char* MigrateCommand::help() const {
    return "usage: keyward migrate --to LOCATION\n"
           "\n"
           "Copies the store (users with their password hashes, the permission\n"
           "items in order, the settings and the whole audit trail) into the empty\n"
           "store at LOCATION, a postgresql:// URI or a file, which is created as\n"
           "needed, then compares the copy with its source row by row and checks\n"
           "its audit trail, linked under the copy's own key. The copy's trail gains\n"
           "one row recording the move. The system store is read through a copy the\n"
           "account service makes, for root and the admin group. Stations are\n"
           "pointed at the new store afterwards.\n";
}

std::string MigrateCommand::run(const Args& args) {
    const auto to = args.value("--to");
    if (!to || to->empty()) throw usageError("option --to is required");
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
