#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "command.h"
#include "commands.h"
#include "copy.h"

namespace keyward::cli {

namespace {

struct SqliteCloser {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};

// Removes a half-written copy unless the backup completed.
class PartialFile {
public:
    explicit PartialFile(std::string path) : m_path(std::move(path)) {}
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;
    ~PartialFile() {
        if (!m_kept) ::unlink(m_path.c_str());
    }
    void keep() { m_kept = true; }

private:
    std::string m_path;
    bool m_kept = false;
};

}  // namespace

const char* BackupCommand::help() const {
    return "usage: keyward backup FILE\n"
           "\n"
           "Copies the database to FILE (mode 0600) with SQLite's online backup, so\n"
           "programs may keep using it meanwhile. FILE must not exist. A server's\n"
           "store is copied from one snapshot into FILE as an SQLite store, every\n"
           "row and audit link kept (plus a row recording the copy) and compared\n"
           "afterwards; 'keyward migrate --to' puts it back on an empty server.\n";
}

std::string BackupCommand::run(const Args& args) {
    const std::string& file = args.positional[0];
    Database source = openExisting(OpenMode::ReadOnly);
    // The copy holds password hashes too: created here, 0600, never over
    // an existing file.
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        if (errno == EEXIST) throw failed(file + " exists");
        throw failed("cannot create " + file + ": " + std::strerror(errno));
    }
    ::close(fd);
    PartialFile partial(file);

    if (source.server() != nullptr) {
        try {
            Database copy(file, OpenMode::Create);
            copyStore(source, copy, operatingSystemActor());
            verifyCopy(source, copy);
        } catch (const DbError& e) {
            throw dbFailure(e);
        }
        partial.keep();
        return "backed up " + source.path() + " to " + file + "\n";
    }

    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
    std::unique_ptr<sqlite3, SqliteCloser> dest(raw);
    if (rc != SQLITE_OK) throw failed("cannot open " + file + ": " + sqlite3_errstr(rc));
    sqlite3_busy_timeout(dest.get(), kBusyTimeoutMs);

    sqlite3_backup* backup = sqlite3_backup_init(dest.get(), "main", source.handle(), "main");
    if (backup == nullptr)
        throw failed(std::string("backup failed: ") + sqlite3_errmsg(dest.get()));
    // The source's busy handler covers waiting for its read lock; a copy
    // that is still busy after it has run is reported as locked.
    const int step = sqlite3_backup_step(backup, -1);
    const int done = sqlite3_backup_finish(backup);
    if (step == SQLITE_BUSY || step == SQLITE_LOCKED) throw failed("database is locked");
    if (step != SQLITE_DONE || done != SQLITE_OK)
        throw failed(std::string("backup failed: ") + sqlite3_errmsg(dest.get()));
    dest.reset();
    partial.keep();
    return "backed up " + source.path() + " to " + file + "\n";
}

}  // namespace keyward::cli
