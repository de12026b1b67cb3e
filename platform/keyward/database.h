// The store's database access: connection, statements, transactions,
// schema. One interface for both engines: an SQLite file (the default) or a
// PostgreSQL server (server.h), chosen by the location's form. SQL is
// written for both; ? and ?N parameters become $N on the server.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace keyward {

// Waiting this long for another process's transaction is normal operation;
// only beyond it does a call fail as busy.
inline constexpr int kBusyTimeoutMs = 5000;

// The schema this code writes and reads (PRAGMA user_version).
inline constexpr int kSchemaVersion = 3;

// PRAGMA application_id of every store ("KWRD"): a file without it is not
// ours and is never written.
inline constexpr std::int32_t kApplicationId = 0x4b575244;

// Codes are SQLite's; a server's failures are given the nearest one.
class DbError : public std::runtime_error {
public:
    DbError(int code, const std::string& what, bool retry = false)
        : std::runtime_error(what), m_code(code), m_retry(retry) {}
    int code() const { return m_code; }
    bool busy() const { return (m_code & 0xff) == SQLITE_BUSY || (m_code & 0xff) == SQLITE_LOCKED; }
    // The transaction lost to a concurrent one and may simply run again.
    bool retry() const { return m_retry; }

private:
    int m_code;
    bool m_retry;
};

class ServerConnection;
class ServerStatement;

// True for a postgresql:// (or postgres://) location: the store on a server.
bool isServerLocation(std::string_view location);

// Create: a missing or empty file becomes a new store (folders 0700, file
// 0600). Existing: the store must be there. Both bring an older schema up to
// date. ReadOnly: opens the store read-only, never migrates or creates, so
// it works on a file it may not write.
enum class OpenMode { Create, Existing, ReadOnly };

class Database {
public:
    // Opens the store at path. Folders on the path may be symlinks; the file
    // itself must not be. Any file that is not a store (another program's
    // SQLite file, garbage, a folder) is refused with "not a keyward
    // database" and left untouched, its mode included; an older store
    // without the application id but with exactly one of our schemas is
    // adopted. A file this call created is removed again when it fails.
    // Throws DbError, whose text names the cause.
    // A postgresql:// path connects to that server instead (server.h).
    Database(const std::string& path, OpenMode mode);

    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;
    ~Database();

    // Leaves the connection unclosed: a child of fork() must neither use nor
    // close its parent's connection.
    void abandon();

    void exec(const char* sql);
    bool readOnly() const { return m_readOnly; }
    sqlite3* handle() const { return m_db.get(); }
    // The server connection, or nullptr for an SQLite file.
    ServerConnection* server() const { return m_server.get(); }
    // True when the connection is lost and the next call must make another.
    bool broken() const;
    // Rows the last INSERT, UPDATE or DELETE changed.
    std::int64_t changes() const;
    // The location; a server's without its password.
    const std::string& path() const { return m_path; }
    [[noreturn]] void fail(int rc) const;

private:
    std::string writeRefusal() const;
    struct Closer {
        void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
    };
    // A bare connection to the resolved path real, for looking at a file.
    Database(const std::string& real, const std::string& path, OpenMode mode);
    void open(const std::string& real, OpenMode mode);
    void recoverForReading(const std::string& real);
    void configure();
    void setUp(OpenMode mode);
    void tighten();
    DbError newerSchema(std::int64_t version) const;

    std::unique_ptr<sqlite3, Closer> m_db;
    std::unique_ptr<ServerConnection> m_server;
    std::string m_path;
    bool m_readOnly = false;
};

class Statement {
public:
    Statement(Database& db, std::string_view sql);
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement();

    Statement& bind(int index, std::int64_t value);
    Statement& bind(int index, std::string_view text);

    // True while a row is ready; false when done. Throws DbError.
    bool step();
    void reset();

    std::int64_t integer(int column) const;
    std::string text(int column) const;
    // The text, or nullopt for SQL NULL.
    std::optional<std::string> optText(int column) const;

private:
    Database& m_db;
    sqlite3_stmt* m_stmt = nullptr;
    std::unique_ptr<ServerStatement> m_server;
};

// One store call, one transaction. Write transactions begin IMMEDIATE so that
// the busy timeout covers the wait for the write lock; a deferred one would
// fail at once when it had to upgrade a read lock. On a server see
// ServerConnection::begin.
class Transaction {
public:
    enum class Kind { Read, Write };
    Transaction(Database& db, Kind kind);
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    ~Transaction();

    void commit();

private:
    Database& m_db;
    bool m_open = true;
};

// Runs a one-row query returning an integer.
std::int64_t queryInt(Database& db, std::string_view sql);

}  // namespace keyward
