#include "database.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

namespace keyward {

namespace {

// Migration k brings the schema from version k to k + 1.
constexpr std::array<const char*, kSchemaVersion> kMigrations = {
    R"sql(
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
};

// Creates the missing folders of path's parent, each 0700.
void makeParentFolders(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) return;
    const std::string folder = path.substr(0, slash);
    struct stat st {};
    if (stat(folder.c_str(), &st) == 0) return;
    makeParentFolders(folder);
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        throw DbError(SQLITE_CANTOPEN,
                      "cannot create folder " + folder + ": " + std::strerror(errno));
}

// SQLite would create the file with the umask's mode; the file holds password
// hashes, so it is created (or tightened) to 0600 first.
void prepareFile(const std::string& path, OpenMode mode) {
    if (mode == OpenMode::Create) makeParentFolders(path);
    const int flags = O_RDWR | O_CLOEXEC | O_NOFOLLOW | (mode == OpenMode::Create ? O_CREAT : 0);
    const int fd = ::open(path.c_str(), flags, 0600);
    if (fd < 0) {
        const int err = errno;
        if (err == ENOENT) throw DbError(SQLITE_CANTOPEN, "no database at " + path);
        throw DbError(SQLITE_CANTOPEN, "cannot open " + path + ": " + std::strerror(err));
    }
    struct stat st {};
    if (fstat(fd, &st) == 0 && st.st_uid == geteuid() && (st.st_mode & 0077) != 0) fchmod(fd, 0600);
    ::close(fd);
}

}  // namespace

Database::Database(const std::string& path, OpenMode mode) : m_path(path) {
    prepareFile(path, mode);
    sqlite3* raw = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_FULLMUTEX;
    const int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
    m_db.reset(raw);
    if (rc != SQLITE_OK) fail(rc);
    configure();
    migrate();
}

void Database::fail(int rc) const {
    std::string msg = m_db ? sqlite3_errmsg(m_db.get()) : sqlite3_errstr(rc);
    throw DbError(rc, msg);
}

void Database::exec(const char* sql) {
    const int rc = sqlite3_exec(m_db.get(), sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) fail(rc);
}

void Database::configure() {
    sqlite3_extended_result_codes(m_db.get(), 1);
    sqlite3_busy_timeout(m_db.get(), kBusyTimeoutMs);
    sqlite3_db_config(m_db.get(), SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    // Rollback journal: SQLite 3.40's WAL mode has a corruption race between
    // processes, and several processes share this file. EXTRA also syncs the
    // folder after the journal is deleted, so a commit survives power loss.
    exec(
        "PRAGMA journal_mode=DELETE;"
        "PRAGMA synchronous=EXTRA;"
        "PRAGMA foreign_keys=ON;"
        "PRAGMA secure_delete=ON;"
        "PRAGMA trusted_schema=OFF;");
}

void Database::migrate() {
    // Checked outside a write lock first: an up-to-date schema, the usual
    // case, then costs no write transaction.
    if (queryInt(*this, "PRAGMA user_version") == kSchemaVersion) return;
    Transaction tx(*this, Transaction::Kind::Write);
    const auto version = queryInt(*this, "PRAGMA user_version");
    if (version > kSchemaVersion)
        throw DbError(SQLITE_ERROR,
                      "database schema " + std::to_string(version) + " is newer than this program");
    for (auto v = version; v < kSchemaVersion; ++v) exec(kMigrations[static_cast<std::size_t>(v)]);
    exec(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
    tx.commit();
}

Statement::Statement(Database& db, std::string_view sql) : m_db(db) {
    const int rc =
        sqlite3_prepare_v2(db.handle(), sql.data(), static_cast<int>(sql.size()), &m_stmt, nullptr);
    if (rc != SQLITE_OK) db.fail(rc);
}

Statement::~Statement() {
    sqlite3_finalize(m_stmt);
}

Statement& Statement::bind(int index, std::int64_t value) {
    const int rc = sqlite3_bind_int64(m_stmt, index, value);
    if (rc != SQLITE_OK) m_db.fail(rc);
    return *this;
}

Statement& Statement::bind(int index, std::string_view text) {
    const int rc = sqlite3_bind_text(m_stmt, index, text.data(), static_cast<int>(text.size()),
                                     SQLITE_TRANSIENT);
    if (rc != SQLITE_OK) m_db.fail(rc);
    return *this;
}

Statement& Statement::bindNull(int index) {
    const int rc = sqlite3_bind_null(m_stmt, index);
    if (rc != SQLITE_OK) m_db.fail(rc);
    return *this;
}

bool Statement::step() {
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    m_db.fail(rc);
}

void Statement::reset() {
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

std::int64_t Statement::integer(int column) const {
    return sqlite3_column_int64(m_stmt, column);
}

std::string Statement::text(int column) const {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
    return p != nullptr
               ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(m_stmt, column)))
               : std::string();
}

bool Statement::isNull(int column) const {
    return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}

Transaction::Transaction(Database& db, Kind kind) : m_db(db) {
    db.exec(kind == Kind::Write ? "BEGIN IMMEDIATE" : "BEGIN");
}

Transaction::~Transaction() {
    if (m_open) sqlite3_exec(m_db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::commit() {
    m_db.exec("COMMIT");
    m_open = false;
}

std::int64_t queryInt(Database& db, std::string_view sql) {
    Statement st(db, sql);
    return st.step() ? st.integer(0) : 0;
}

}  // namespace keyward
