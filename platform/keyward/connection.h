// The store's database access, one interface for both engines: an SQLite
// file (sqlite_connection.h, the default) or a PostgreSQL server
// (server_connection.h), chosen by the location's form in openConnection.
// SQL shared by both is written once; ? and ?N parameters become $N on the
// server. What the engines do differently is a virtual of Connection, never
// a branch in the code that uses it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "location.h"

namespace keyward {

// Waiting this long for another process's transaction is normal operation;
// only beyond it does a call fail as busy.
inline constexpr int kBusyTimeoutMs = 5000;

// A server that has not answered within this is taken for gone: its own
// statement and lock timeouts (kBusyTimeoutMs) answer a busy statement
// before, and the rest is room for the answer to travel. No store call
// waits on one round trip longer.
inline constexpr int kServerAnswerMs = kBusyTimeoutMs + 2000;

// What went wrong, in the store's terms, whichever engine said it.
enum class Fault {
    Busy,         // locked (or the server busy) beyond the busy timeout
    Retry,        // lost to a concurrent transaction; may simply run again
    Unavailable,  // cannot open or reach the store, connection lost, I/O error
    NotAStore,    // the location holds something that is not a keyward store
    ReadOnly,     // the store may be read but not written here
    Constraint,   // a constraint of the schema refused the change
    Failed,       // anything else: an SQL error, a schema newer than this code
};

class DbError : public std::runtime_error {
public:
    DbError(Fault fault, const std::string& what) : std::runtime_error(what), m_fault(fault) {}
    Fault fault() const { return m_fault; }
    // Waiting longer might have helped: the call reports busy, not unavailable.
    bool busy() const { return m_fault == Fault::Busy || m_fault == Fault::Retry; }
    bool retry() const { return m_fault == Fault::Retry; }

private:
    Fault m_fault;
};

// True for a postgresql:// (or postgres://) location: the store on a server.
using setbank::isServerLocation;

// Create: a missing or empty file becomes a new store (folders 0700, file
// 0600). Existing: the store must be there. Both bring an older schema up to
// date. ReadOnly: opens the store read-only, never migrates or creates, so
// it works on a file it may not write.
enum class OpenMode { Create, Existing, ReadOnly };

enum class TxKind { Read, Write };

// One prepared statement of an engine.
class StatementImpl {
public:
    virtual ~StatementImpl() = default;
    virtual void bind(int index, std::int64_t value) = 0;
    virtual void bind(int index, std::string_view text) = 0;
    virtual bool step() = 0;
    virtual void reset() = 0;
    virtual bool isNull(int column) const = 0;
    virtual std::int64_t integer(int column) const = 0;
    virtual std::string text(int column) const = 0;
};

// The HMAC key of a store's audit chain: only the store's owner reads it.
struct AuditKey {
    std::string bytes;
};

inline constexpr std::size_t kAuditKeyBytes = 32;

// The key as it is kept in text, 64 hex digits, and back (nullopt for text
// that is no key).
std::string keyToHex(const AuditKey& key);
std::optional<AuditKey> auditKeyFromHex(std::string_view hex);

class Connection {
public:
    Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    virtual ~Connection() = default;

    virtual std::unique_ptr<StatementImpl> prepare(std::string_view sql) = 0;
    virtual void exec(const char* sql) = 0;
    // One store call, one transaction; see each engine for how writers wait.
    virtual void begin(TxKind kind) = 0;
    virtual void commit() = 0;
    virtual void rollback() noexcept = 0;
    // Rows the last INSERT, UPDATE or DELETE changed.
    virtual std::int64_t changes() const = 0;
    // True when the connection is lost and the next call must make another.
    virtual bool broken() const { return false; }
    // Leaves the connection unclosed: a child of fork() must neither use nor
    // close its parent's connection.
    virtual void abandon() = 0;
    bool readOnly() const { return m_readOnly; }
    // The location; a server's without its password.
    const std::string& path() const { return m_path; }

    // ---- what the engines keep differently ----
    // The schema version of this store, and the one this code writes.
    virtual std::int64_t schemaVersion() = 0;
    virtual std::int64_t currentSchemaVersion() const = 0;
    // The last audit id ever handed out, removed rows included.
    virtual std::int64_t issuedAuditIds() = 0;
    // Records id as handed out (inside the write that appends it).
    virtual void noteAuditId(std::int64_t id) = 0;
    // After rows were copied in with their ids: new rows continue after them.
    virtual void continueIds(std::int64_t issuedAudit) = 0;
    // The engine's own integrity checks and the audit trail's protection
    // (triggers, and on a server the stations' rights), one line each.
    virtual std::vector<std::string> integrityProblems() = 0;
    // The schema version from which the audit trail is chained.
    virtual std::int64_t firstChainedVersion() const = 0;
    // Whether this store's audit rows have room for who asked (os_user,
    // host), and for the address a server saw them at.
    virtual bool auditNamesCaller() = 0;
    virtual bool auditNamesAddress() = 0;
    // Whether this store's users carry the account policy's state (failed
    // logins, locks, when the password was set).
    virtual bool keepsLoginState() = 0;
    // The key of the audit chain, made when create and none exists yet;
    // nullopt for a store whose chain is not keyed by this connection.
    // Throws DbError when a key should be there and cannot be read.
    virtual std::optional<AuditKey> auditKey(bool create) = 0;
    // A consistent copy of the whole store into file, an empty SQLite file
    // made by the caller, with the copy's audit key beside it; others may go
    // on using the store meanwhile.
    virtual void backupInto(const std::string& file) = 0;

protected:
    std::string m_path;
    bool m_readOnly = false;
};

// Opens the store at location: an SQLite file, or a postgresql:// URI.
// Throws DbError, whose text names the cause.
std::unique_ptr<Connection> openConnection(const std::string& location, OpenMode mode);

class Statement {
public:
    Statement(Connection& db, std::string_view sql) : m_impl(db.prepare(sql)) {}

    Statement& bind(int index, std::int64_t value) {
        m_impl->bind(index, value);
        return *this;
    }
    Statement& bind(int index, std::string_view text) {
        m_impl->bind(index, text);
        return *this;
    }
    Statement& bind(int index, const std::string& text) {
        return bind(index, std::string_view(text));
    }
    Statement& bind(int index, const char* text) { return bind(index, std::string_view(text)); }
    // A text or SQL NULL.
    Statement& bind(int index, const std::optional<std::string>& text) {
        if (text) m_impl->bind(index, std::string_view(*text));
        return *this;
    }
    // True while a row is ready; false when done. Throws DbError.
    bool step() { return m_impl->step(); }
    void reset() { m_impl->reset(); }

    std::int64_t integer(int column) const { return m_impl->integer(column); }
    std::string text(int column) const { return m_impl->text(column); }
    // The text, or nullopt for SQL NULL.
    std::optional<std::string> optText(int column) const {
        if (m_impl->isNull(column)) return std::nullopt;
        return m_impl->text(column);
    }

private:
    std::unique_ptr<StatementImpl> m_impl;
};

// A transaction rolled back unless committed.
class Transaction {
public:
    Transaction(Connection& db, TxKind kind) : m_db(db) { m_db.begin(kind); }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    ~Transaction() {
        if (m_open) m_db.rollback();
    }
    void commit() {
        m_open = false;  // a failed COMMIT ends the transaction too
        m_db.commit();
    }

private:
    Connection& m_db;
    bool m_open = true;
};

// body's result, run in one transaction of kind and committed. A write
// that a server ended because it lost to a concurrent transaction runs
// again from the start, as it would have after the other one.
template <class Body>
auto inTransaction(Connection& db, TxKind kind, Body body) {
    constexpr int kAttempts = 5;
    for (int attempt = 1;; ++attempt) {
        try {
            Transaction tx(db, kind);
            auto result = body();
            tx.commit();
            return result;
        } catch (const DbError& e) {
            if (kind != TxKind::Write || !e.retry() || attempt >= kAttempts) throw;
        }
    }
}

// Runs a one-row query returning an integer (0 when it returns no row).
std::int64_t queryInt(Connection& db, std::string_view sql);

}  // namespace keyward
