// SQLite access for the store: connection, statements, transactions, schema.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace keyward {

// Waiting this long for another process's transaction is normal operation;
// only beyond it does a call fail as busy.
inline constexpr int kBusyTimeoutMs = 5000;

// The schema this code writes and reads (PRAGMA user_version).
inline constexpr int kSchemaVersion = 1;

class DbError : public std::runtime_error {
public:
    DbError(int code, const std::string& what) : std::runtime_error(what), m_code(code) {}
    int code() const { return m_code; }
    bool busy() const { return (m_code & 0xff) == SQLITE_BUSY || (m_code & 0xff) == SQLITE_LOCKED; }

private:
    int m_code;
};

enum class OpenMode { Create, Existing };

class Database {
public:
    // Opens (and in Create mode creates, with its folder) the database at
    // path, sets the connection up and brings the schema to kSchemaVersion.
    // Throws DbError.
    Database(const std::string& path, OpenMode mode);

    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Leaves the connection unclosed: a child of fork() must neither use nor
    // close its parent's connection.
    void abandon() { (void)m_db.release(); }

    void exec(const char* sql);
    sqlite3* handle() const { return m_db.get(); }
    const std::string& path() const { return m_path; }
    [[noreturn]] void fail(int rc) const;

private:
    struct Closer {
        void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
    };
    void configure();
    void migrate();

    std::unique_ptr<sqlite3, Closer> m_db;
    std::string m_path;
};

class Statement {
public:
    Statement(Database& db, std::string_view sql);
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement();

    Statement& bind(int index, std::int64_t value);
    Statement& bind(int index, std::string_view text);
    Statement& bindNull(int index);

    // True while a row is ready; false when done. Throws DbError.
    bool step();
    void reset();

    std::int64_t integer(int column) const;
    std::string text(int column) const;
    bool isNull(int column) const;

private:
    Database& m_db;
    sqlite3_stmt* m_stmt = nullptr;
};

// One store call, one transaction. Write transactions begin IMMEDIATE so that
// the busy timeout covers the wait for the write lock; a deferred one would
// fail at once when it had to upgrade a read lock.
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
