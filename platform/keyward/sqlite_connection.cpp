#include "sqlite_connection.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "audit.h"

namespace keyward {

namespace {

constexpr const char* kAuditNoUpdate = R"sql(
CREATE TRIGGER audit_no_update BEFORE UPDATE ON audit
    BEGIN SELECT RAISE(ABORT, 'the audit trail is append-only'); END;
)sql";

struct Migration {
    const char* sql;
    void (*after)(SqliteConnection& db);  // work SQL alone cannot do, or nullptr
};

// Migration k brings the schema from version k to k + 1. Every step's text
// stays as it was: adopting an older store compares its schema with the one
// these steps make.
const std::array<Migration, kSchemaVersion> kMigrations = {{
    {R"sql(
CREATE TABLE users(
    id    INTEGER PRIMARY KEY AUTOINCREMENT,   -- never reused: a login holds an id
    name  TEXT NOT NULL UNIQUE,
    level INTEGER NOT NULL CHECK (level BETWEEN 0 AND 4),
    mask  INTEGER NOT NULL CHECK (mask BETWEEN 0 AND 4294967295),
    hash  TEXT NOT NULL
);
CREATE TABLE limits(
    id    INTEGER PRIMARY KEY AUTOINCREMENT,   -- id order is list order
    name  TEXT NOT NULL UNIQUE,
    title TEXT NOT NULL
);
CREATE TRIGGER limits_at_most_32 BEFORE INSERT ON limits
    WHEN (SELECT count(*) FROM limits) >= 32
    BEGIN SELECT RAISE(ABORT, 'at most 32 permission items'); END;
CREATE TABLE audit(
    id      INTEGER PRIMARY KEY AUTOINCREMENT,
    at      TEXT NOT NULL,                     -- UTC, ISO 8601
    actor   TEXT,                              -- logged-in user, NULL for none
    action  TEXT NOT NULL,
    target  TEXT,
    detail  TEXT,                              -- what changed, never a password
    outcome TEXT NOT NULL,
    pid     INTEGER NOT NULL
);
CREATE TRIGGER audit_no_update BEFORE UPDATE ON audit
    BEGIN SELECT RAISE(ABORT, 'the audit trail is append-only'); END;
CREATE TRIGGER audit_no_delete BEFORE DELETE ON audit
    BEGIN SELECT RAISE(ABORT, 'the audit trail is append-only'); END;
CREATE TABLE settings(
    key   TEXT PRIMARY KEY,
    value TEXT NOT NULL
);
)sql",
     nullptr},
    // Each audit row links to the one before it; rows already there are
    // linked once, with the update trigger lifted for that alone.
    {R"sql(
DROP TRIGGER audit_no_update;
ALTER TABLE audit ADD COLUMN hash TEXT;        -- link to the row before, see audit.cpp
)sql",
     [](SqliteConnection& db) {
         chainUnlinkedRows(db);
         db.exec(kAuditNoUpdate);
     }},
    // The user list is read from this index alone, without the hashes that
    // make up most of a row.
    {R"sql(
CREATE INDEX users_listing ON users(id, name, level, mask);
)sql",
     nullptr},
    // Who asked and from which station; and the chain keyed from here on, so
    // that whoever can edit the file cannot mend a link (audit.cpp).
    {R"sql(
DROP TRIGGER audit_no_update;
ALTER TABLE audit ADD COLUMN os_user TEXT;     -- the operating-system user who asked
ALTER TABLE audit ADD COLUMN host TEXT;        -- the station's host name
)sql",
     [](SqliteConnection& db) {
         keyTheChain(db);
         db.exec(kAuditNoUpdate);
     }},
    // The address a server saw a station at, so that a copy of a server's
    // store keeps it (and its rows' links verify).
    {R"sql(
ALTER TABLE audit ADD COLUMN address TEXT;     -- the station's address as a server saw it
)sql",
     nullptr},
}};

void migrate(SqliteConnection& db, std::int64_t from) {
    for (auto v = from; v < kSchemaVersion; ++v) {
        const Migration& step = kMigrations[static_cast<std::size_t>(v)];
        db.exec(step.sql);
        if (step.after != nullptr) step.after(db);
    }
    db.exec(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
}

// What a schema is made of, comparable between two databases.
std::string schemaOf(Connection& db) {
    Statement st(db,
                 "SELECT type || ' ' || name || ' ' || tbl_name || ' ' || ifnull(sql, '') "
                 "FROM sqlite_master ORDER BY type, name");
    std::string all;
    while (st.step()) all += st.text(0) + "\n";
    return all;
}

// The schema version `version` of this store, as the migrations make it.
std::string referenceSchema(std::int64_t version);

[[noreturn]] void notOurs(const std::string& path) {
    throw DbError(Fault::NotAStore, "not a keyward database: " + path);
}

// A store whose creation was cut short: an empty file, or one that its
// first transaction's journal takes back to empty. Whoever may create it
// finishes it; nobody else takes it for another program's file.
[[noreturn]] void unfinished(const std::string& path) {
    throw DbError(Fault::Unavailable,
                  path + ": unfinished: the next start or `keyward init` sets it up");
}

// Creates the missing folders of path's parent, each 0700.
void makeParentFolders(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) return;
    const std::string folder = path.substr(0, slash);
    struct stat st {};
    if (stat(folder.c_str(), &st) == 0) return;
    makeParentFolders(folder);
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        throw DbError(Fault::Unavailable,
                      "cannot create folder " + folder + ": " + std::strerror(errno));
}

// The path with its folders resolved. SQLite's NOFOLLOW refuses a symlink
// anywhere on the path; only the file itself must not be one, so the folders
// are resolved here and NOFOLLOW is left to judge the file.
std::string resolveFolders(const std::string& path) {
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") notOurs(path);
    std::unique_ptr<char, decltype(&std::free)> real(realpath(folder.c_str(), nullptr), &std::free);
    if (!real) {
        if (errno == ENOENT || errno == ENOTDIR)
            throw DbError(Fault::Unavailable, "no database at " + path);
        throw DbError(Fault::Unavailable, "cannot open " + path + ": " + std::strerror(errno));
    }
    const std::string base = real.get();
    return (base == "/" ? "" : base) + "/" + name;
}

enum class FileKind { Missing, Empty, Ours, Unmarked, Foreign };

std::uint32_t bigEndian32(const unsigned char* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}

// Judged from the file's own bytes, before SQLite opens it: SQLite would
// roll back another program's hot journal, which is a write.
FileKind inspect(const std::string& real, const std::string& path) {
    struct stat st {};
    if (lstat(real.c_str(), &st) != 0) {
        if (errno == ENOENT) return FileKind::Missing;
        throw DbError(Fault::Unavailable, "cannot open " + path + ": " + std::strerror(errno));
    }
    if (S_ISLNK(st.st_mode))
        throw DbError(Fault::Unavailable, path + " is a symbolic link; refusing to follow it");
    if (!S_ISREG(st.st_mode)) notOurs(path);
    const int fd = ::open(real.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        throw DbError(Fault::Unavailable, "cannot open " + path + ": " + std::strerror(errno));
    unsigned char header[100];
    ssize_t got = 0;
    while (got < static_cast<ssize_t>(sizeof header)) {
        const ssize_t n = ::read(fd, header + got, sizeof header - static_cast<std::size_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += n;
    }
    ::close(fd);
    if (got == 0) return FileKind::Empty;
    static constexpr char kMagic[] = "SQLite format 3";  // with its NUL: 16 bytes
    if (got < static_cast<ssize_t>(sizeof header) ||
        std::memcmp(header, kMagic, sizeof kMagic) != 0)
        return FileKind::Foreign;
    const std::uint32_t id = bigEndian32(header + 68);
    if (id == static_cast<std::uint32_t>(kApplicationId)) return FileKind::Ours;
    return id == 0 ? FileKind::Unmarked : FileKind::Foreign;
}

// A file the store may make its own: nothing in it yet, or exactly one of
// our schemas from before stores were marked. Returns the version to migrate
// from, or nullopt for another program's database.
std::optional<std::int64_t> adoptable(Connection& db) {
    const auto version = queryInt(db, "PRAGMA user_version");
    const auto objects = queryInt(db, "SELECT count(*) FROM sqlite_master");
    if (objects == 0 && version == 0) return 0;
    if (version < 1 || version > kSchemaVersion) return std::nullopt;
    if (schemaOf(db) != referenceSchema(version)) return std::nullopt;
    return version;
}

std::string referenceSchema(std::int64_t version) {
    SqliteConnection ref(":memory:", OpenMode::Create);
    Transaction tx(ref, TxKind::Write);
    // The store's own set-up, cut short at the version wanted.
    for (std::int64_t v = 0; v < version; ++v) {
        const Migration& step = kMigrations[static_cast<std::size_t>(v)];
        ref.exec(step.sql);
        if (step.after != nullptr) step.after(ref);
    }
    return schemaOf(ref);
}

}  // namespace

SqliteConnection::SqliteConnection(const std::string& path, OpenMode mode) {
    m_path = path;
    if (path == ":memory:") {
        sqlite3* raw = nullptr;
        const int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
        m_db.reset(raw);
        if (rc != SQLITE_OK) fail(rc);
        sqlite3_extended_result_codes(m_db.get(), 1);
        return;
    }
    if (mode == OpenMode::Create) makeParentFolders(path);
    const std::string real = resolveFolders(path);
    FileKind kind = inspect(real, path);
    bool created = false;
    if (kind == FileKind::Missing) {
        if (mode != OpenMode::Create) throw DbError(Fault::Unavailable, "no database at " + path);
        // The file holds password hashes: 0600 from the start, never the umask's.
        const int fd =
            ::open(real.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0)
            throw DbError(Fault::Unavailable,
                          "cannot create " + path + ": " + std::strerror(errno));
        ::close(fd);
        created = true;
        kind = FileKind::Empty;
    }
    // A failed first open leaves nothing behind.
    const auto discard = [&] {
        m_db.reset();
        if (!created) return;
        ::unlink(real.c_str());
        ::unlink((real + "-journal").c_str());
        ::unlink(auditKeyFile(real).c_str());
    };
    try {
        if (kind == FileKind::Foreign) notOurs(path);
        if (kind == FileKind::Empty && mode != OpenMode::Create) unfinished(path);
        if (kind == FileKind::Unmarked) {
            // Looked at through a read-only connection first, so another
            // program's file is never written.
            SqliteConnection probe(real, path, OpenMode::ReadOnly);
            Transaction tx(probe, TxKind::Read);
            const auto from = adoptable(probe);
            if (!from) notOurs(path);
            if (*from == 0 && mode != OpenMode::Create) unfinished(path);
        }
        m_real = real;
        open(real, mode);
        if (mode == OpenMode::ReadOnly && kind == FileKind::Ours) recoverForReading(real);
        setUp(mode);
    } catch (const DbError& e) {
        discard();
        // SQLite's own words ("unable to open database file") name no file.
        if (std::string_view(e.what()).find(path) != std::string_view::npos) throw;
        throw DbError(e.fault(), path + ": " + e.what());
    } catch (...) {
        discard();
        throw;
    }
}

SqliteConnection::SqliteConnection(const std::string& real, const std::string& path,
                                   OpenMode mode) {
    m_path = path;
    open(real, mode);
}

SqliteConnection::~SqliteConnection() = default;

void SqliteConnection::abandon() {
    (void)m_db.release();
}

std::int64_t SqliteConnection::changes() const {
    return sqlite3_changes64(m_db.get());
}

// A writer that died mid-transaction leaves a journal that the next reader
// must roll back, and a read-only connection cannot: our own store is
// recovered here through a brief writable one, as any writer would.
void SqliteConnection::recoverForReading(const std::string& real) {
    try {
        queryInt(*this, "PRAGMA user_version");
        return;
    } catch (const DbError&) {
        if (sqlite3_extended_errcode(m_db.get()) != SQLITE_READONLY_ROLLBACK) throw;
    }
    m_db.reset();
    try {
        SqliteConnection writer(real, m_path, OpenMode::Existing);
        Transaction tx(writer, TxKind::Read);
        queryInt(writer, "PRAGMA user_version");
        tx.commit();
    } catch (const DbError& e) {
        if (e.fault() != Fault::ReadOnly) throw;
        throw DbError(Fault::ReadOnly,
                      "the last write to " + m_path +
                          " was interrupted; it needs write access once to recover");
    }
    open(real, OpenMode::ReadOnly);
}

void SqliteConnection::open(const std::string& real, OpenMode mode) {
    m_readOnly = mode == OpenMode::ReadOnly;
    // The store serialises every call on its own mutex and no connection is
    // shared beyond it: SQLite's locking around each step and column read only
    // cost time (a tenth of a listing).
    const int flags = (m_readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) |
                      SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX;
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(real.c_str(), &raw, flags, nullptr);
    m_db.reset(raw);
    if (rc != SQLITE_OK) fail(rc);
    configure();
}

void SqliteConnection::fail(int rc) const {
    std::string msg = m_db ? sqlite3_errmsg(m_db.get()) : sqlite3_errstr(rc);
    // SQLite's words ("attempt to write a readonly database") do not say
    // why; the system's do.
    const int primary = rc & 0xff;
    if (!m_readOnly && (primary == SQLITE_READONLY || primary == SQLITE_CANTOPEN))
        if (std::string why = writeRefusal(); !why.empty()) msg = why;
    switch (primary) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            throw DbError(Fault::Busy, msg);
        case SQLITE_READONLY:
            throw DbError(Fault::ReadOnly, msg);
        case SQLITE_CONSTRAINT:
            throw DbError(Fault::Constraint, msg);
        case SQLITE_CANTOPEN:
        case SQLITE_IOERR:
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
        case SQLITE_FULL:
        case SQLITE_PERM:
        case SQLITE_NOMEM:
            throw DbError(Fault::Unavailable, msg);
        default:
            throw DbError(Fault::Failed, msg);
    }
}

// Why this process may not write the file, or create the journal beside it
// that every write needs; "" when it may.
std::string SqliteConnection::writeRefusal() const {
    if (faccessat(AT_FDCWD, m_path.c_str(), W_OK, AT_EACCESS) != 0)
        return "cannot write " + m_path + ": " + std::strerror(errno);
    const auto slash = m_path.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : m_path.substr(0, slash);
    if (faccessat(AT_FDCWD, folder.c_str(), W_OK, AT_EACCESS) != 0)
        return "cannot create the journal of " + m_path + " in " + folder + ": " +
               std::strerror(errno);
    return {};
}

void SqliteConnection::exec(const char* sql) {
    const int rc = sqlite3_exec(m_db.get(), sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) fail(rc);
}

void SqliteConnection::configure() {
    sqlite3_extended_result_codes(m_db.get(), 1);
    sqlite3_busy_timeout(m_db.get(), kBusyTimeoutMs);
    sqlite3_db_config(m_db.get(), SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    exec("PRAGMA trusted_schema=OFF;");
    if (m_readOnly) return;
    // Rollback journal: SQLite 3.40's WAL mode has a corruption race between
    // processes, and several processes share this file. EXTRA also syncs the
    // folder after the journal is deleted, so a commit survives power loss.
    //
    // A small page cache until the first write: listing 100,000 users
    // passes over far more pages than a cache of SQLite's default size holds,
    // and each page the cache takes is fresh memory to fault in at start-up.
    // Not for a read-only look: the pragma reads the schema, which a hot
    // journal left by a killed writer does not let a reader do.
    exec(
        "PRAGMA cache_size=-256;"
        "PRAGMA journal_mode=DELETE;"
        "PRAGMA synchronous=EXTRA;"
        "PRAGMA foreign_keys=ON;"
        "PRAGMA secure_delete=ON;");
}

void SqliteConnection::setUp(OpenMode mode) {
    const auto current = [this] {
        return queryInt(*this, "PRAGMA application_id") == kApplicationId &&
               queryInt(*this, "PRAGMA user_version") == kSchemaVersion;
    };
    if (mode == OpenMode::ReadOnly) {
        // Marked, or an unmarked store judged above; an older schema is read
        // as it is, a newer one not at all.
        const auto version = queryInt(*this, "PRAGMA user_version");
        if (version > kSchemaVersion) throw newerSchema(version);
        if (version == 0 && queryInt(*this, "SELECT count(*) FROM sqlite_master") == 0)
            unfinished(m_path);
        return;
    }
    // Checked outside a write lock first: an up-to-date store, the usual
    // case, then costs no write transaction.
    if (current()) return tighten();
    Transaction tx(*this, TxKind::Write);
    // Judged again under the lock: another process may have set it up meanwhile.
    std::int64_t from = 0;
    if (queryInt(*this, "PRAGMA application_id") == kApplicationId) {
        from = queryInt(*this, "PRAGMA user_version");
        if (from > kSchemaVersion) throw newerSchema(from);
    } else {
        const auto adopted = adoptable(*this);
        if (!adopted) notOurs(m_path);
        if (*adopted == 0 && mode != OpenMode::Create) unfinished(m_path);
        from = *adopted;
        exec(("PRAGMA application_id=" + std::to_string(kApplicationId)).c_str());
    }
    if (from < kSchemaVersion) migrate(*this, from);
    tx.commit();
    tighten();
}

DbError SqliteConnection::newerSchema(std::int64_t version) const {
    return DbError(Fault::Failed,
                   "database schema " + std::to_string(version) + " is newer than this program");
}

// Once the file is known to be a store it is kept private, whatever mode an
// earlier copy or restore gave it.
void SqliteConnection::tighten() {
    const char* name = sqlite3_db_filename(m_db.get(), "main");
    if (name == nullptr || name[0] == '\0') return;
    const int fd = ::open(name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return;
    struct stat st {};
    if (fstat(fd, &st) == 0 && st.st_uid == geteuid() && (st.st_mode & 0077) != 0)
        (void)fchmod(fd, 0600);
    ::close(fd);
}

void SqliteConnection::begin(TxKind kind) {
    if (kind == TxKind::Write)
        // SQLite's default cache again: a change of many rows spilling out
        // of a small one would sync the journal again and again.
        exec("PRAGMA cache_size=-2000; BEGIN IMMEDIATE");
    else
        exec("BEGIN");
}

void SqliteConnection::commit() {
    try {
        exec("COMMIT");
    } catch (...) {
        // A COMMIT that failed (busy, I/O) leaves the transaction open.
        rollback();
        throw;
    }
}

void SqliteConnection::rollback() noexcept {
    if (sqlite3_get_autocommit(m_db.get()) == 0)
        sqlite3_exec(m_db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
}

std::int64_t SqliteConnection::schemaVersion() {
    return queryInt(*this, "PRAGMA user_version");
}

// AUTOINCREMENT's sqlite_sequence keeps the last id handed out, removed rows
// included.
std::int64_t SqliteConnection::issuedAuditIds() {
    return queryInt(*this, "SELECT ifnull(max(seq), 0) FROM sqlite_sequence WHERE name = 'audit'");
}

void SqliteConnection::continueIds(std::int64_t issuedAudit) {
    Statement st(*this, "UPDATE sqlite_sequence SET seq = ?1 WHERE name = 'audit' AND seq < ?1");
    st.bind(1, issuedAudit).step();
}

std::vector<std::string> SqliteConnection::integrityProblems() {
    std::vector<std::string> problems;
    Statement st(*this, "PRAGMA integrity_check");
    while (st.step())
        if (st.text(0) != "ok") problems.push_back("integrity: " + st.text(0));
    Statement fk(*this, "PRAGMA foreign_key_check");
    if (fk.step()) problems.push_back("integrity: foreign key violation in table " + fk.text(0));
    if (queryInt(*this,
                 "SELECT count(*) FROM sqlite_master WHERE type = 'trigger' AND name IN "
                 "('audit_no_update', 'audit_no_delete')") != 2)
        problems.push_back("the audit trail is no longer append-only");
    return problems;
}

namespace {

// Writes a fresh key to path, never over an existing file; false when another
// process made it first.
bool writeNewKey(const std::string& path) {
    unsigned char key[kAuditKeyBytes];
    if (getrandom(key, sizeof key, 0) != static_cast<ssize_t>(sizeof key))
        throw DbError(Fault::Unavailable,
                      "cannot make an audit key: " + std::string(std::strerror(errno)));
    AuditKey made{std::string(reinterpret_cast<const char*>(key), sizeof key)};
    explicit_bzero(key, sizeof key);
    const std::string text = keyToHex(made) + "\n";
    explicit_bzero(made.bytes.data(), made.bytes.size());
    const std::string partial = path + ".new";
    const int fd =
        ::open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        throw DbError(Fault::Unavailable, "cannot create " + partial + ": " + std::strerror(errno));
    const bool written =
        ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
        ::fsync(fd) == 0;
    ::close(fd);
    // link() never replaces: of two processes making a key, one key wins.
    const bool linked = written && ::link(partial.c_str(), path.c_str()) == 0;
    const int linkErrno = errno;
    ::unlink(partial.c_str());
    if (!written) throw DbError(Fault::Unavailable, "cannot write " + partial);
    if (!linked && linkErrno != EEXIST)
        throw DbError(Fault::Unavailable,
                      "cannot create " + path + ": " + std::strerror(linkErrno));
    return linked;
}

}  // namespace

std::string auditKeyFile(const std::string& real) {
    return real + ".key";
}

std::optional<AuditKey> SqliteConnection::auditKey(bool create) {
    if (m_real.empty()) return std::nullopt;  // in memory: nothing to protect
    if (m_key) return m_key;
    const std::string path = auditKeyFile(m_real);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) {
            if (errno != ENOENT)
                throw DbError(Fault::Unavailable,
                              "cannot read the audit key " + path + ": " + std::strerror(errno));
            if (!create || m_readOnly) return std::nullopt;
            writeNewKey(path);
            continue;
        }
        char buf[2 * kAuditKeyBytes + 2] = {};
        const ssize_t n = ::read(fd, buf, sizeof buf);
        ::close(fd);
        std::string_view text(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
        if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
        auto key = auditKeyFromHex(text);
        explicit_bzero(buf, sizeof buf);
        if (!key) throw DbError(Fault::Unavailable, "the audit key " + path + " is damaged");
        m_key = std::move(key);
        return m_key;
    }
    throw DbError(Fault::Unavailable, "cannot make the audit key " + path);
}

void SqliteConnection::backupInto(const std::string& file) {
    sqlite3* raw = nullptr;
    const int rc =
        sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW, nullptr);
    std::unique_ptr<sqlite3, Closer> dest(raw);
    if (rc != SQLITE_OK)
        throw DbError(Fault::Unavailable, "cannot open " + file + ": " + sqlite3_errstr(rc));
    sqlite3_busy_timeout(dest.get(), kBusyTimeoutMs);
    sqlite3_backup* backup = sqlite3_backup_init(dest.get(), "main", m_db.get(), "main");
    if (backup == nullptr)
        throw DbError(Fault::Failed, std::string("backup failed: ") + sqlite3_errmsg(dest.get()));
    // The source's busy handler covers waiting for its read lock; a copy
    // that is still busy after it has run is reported as locked.
    const int step = sqlite3_backup_step(backup, -1);
    const int done = sqlite3_backup_finish(backup);
    if (step == SQLITE_BUSY || step == SQLITE_LOCKED)
        throw DbError(Fault::Busy, "database is locked");
    if (step != SQLITE_DONE || done != SQLITE_OK)
        throw DbError(Fault::Failed, std::string("backup failed: ") + sqlite3_errmsg(dest.get()));
    dest.reset();
    // The copy's links are the store's: it takes the key along.
    if (const auto key = auditKey(false)) {
        const std::string path = auditKeyFile(file);
        const std::string text = keyToHex(*key) + "\n";
        const int fd =
            ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        const bool written =
            fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
            ::fsync(fd) == 0;
        if (fd >= 0) ::close(fd);
        if (!written)
            throw DbError(Fault::Unavailable, "cannot write " + path + ": " + std::strerror(errno));
    }
}

namespace {

class SqliteStatement final : public StatementImpl {
public:
    SqliteStatement(const SqliteConnection& db, std::string_view sql) : m_db(db) {
        const int rc = sqlite3_prepare_v2(db.handle(), sql.data(), static_cast<int>(sql.size()),
                                          &m_stmt, nullptr);
        if (rc != SQLITE_OK) db.fail(rc);
    }
    ~SqliteStatement() override { sqlite3_finalize(m_stmt); }

    void bind(int index, std::int64_t value) override {
        const int rc = sqlite3_bind_int64(m_stmt, index, value);
        if (rc != SQLITE_OK) m_db.fail(rc);
    }
    void bind(int index, std::string_view text) override {
        const int rc = sqlite3_bind_text(m_stmt, index, text.data(), static_cast<int>(text.size()),
                                         SQLITE_TRANSIENT);
        if (rc != SQLITE_OK) m_db.fail(rc);
    }
    bool step() override {
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        m_db.fail(rc);
    }
    void reset() override {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }
    bool isNull(int column) const override {
        return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
    }
    std::int64_t integer(int column) const override { return sqlite3_column_int64(m_stmt, column); }
    std::string text(int column) const override {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
        return p != nullptr
                   ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(m_stmt, column)))
                   : std::string();
    }

private:
    const SqliteConnection& m_db;
    sqlite3_stmt* m_stmt = nullptr;
};

}  // namespace

std::unique_ptr<StatementImpl> SqliteConnection::prepare(std::string_view sql) {
    return std::make_unique<SqliteStatement>(*this, sql);
}

}  // namespace keyward
