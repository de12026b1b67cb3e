// The store on a PostgreSQL server (libpq), shared by many stations. Texts
// travel as UTF-8, numbers as text.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "connection.h"
#include "libpq.h"
#include "server_schema.h"

namespace keyward {

class ServerConnection final : public Connection {
public:
    // Connects to uri; Create makes the schema when the database has none.
    // An older schema is brought up to date when this role may (the store's
    // owner); a station's role is told to have the owner do it.
    ServerConnection(const std::string& uri, OpenMode mode);
    ~ServerConnection() override;

    std::unique_ptr<StatementImpl> prepare(std::string_view sql) override;
    void exec(const char* sql) override;
    void begin(TxKind kind) override;
    void commit() override;
    void rollback() noexcept override;
    std::int64_t changes() const override { return m_changes; }
    bool broken() const override;
    // A child of fork() shares the socket; closing it would end the
    // parent's session.
    void abandon() override { (void)m_conn.release(); }

    std::int64_t schemaVersion() override;
    std::int64_t currentSchemaVersion() const override { return kServerSchemaVersion; }
    std::int64_t issuedAuditIds() override;
    void noteAuditId(std::int64_t id) override;
    void continueIds(std::int64_t issuedAudit) override;
    std::vector<std::string> integrityProblems() override;
    std::int64_t firstChainedVersion() const override { return 1; }
    bool auditNamesCaller() override { return schemaVersion() >= 2; }
    bool auditNamesAddress() override { return schemaVersion() >= 3; }
    bool keepsLoginState() override { return schemaVersion() >= 4; }
    // The key the store's functions link the trail with, for its owner's
    // tools (copies, upgrades); a station may not read it.
    std::optional<AuditKey> auditKey(bool create) override;
    // Copied row by row from one snapshot, and compared afterwards.
    void backupInto(const std::string& file) override;

    // Where others may read this connection's credential: a password in
    // the location, or a passfile or service file (holding the password)
    // with rights for others. One line each.
    std::vector<std::string> credentialWarnings();

    // Runs sql with params ($n); the caller owns the result. Throws DbError.
    PGresult* run(const std::string& sql, const std::vector<std::optional<std::string>>& params);

private:
    struct Closer {
        void operator()(PGconn* c) const { libpq().PQfinish(c); }
    };
    void connect();
    void configure();
    void setUp(OpenMode mode);
    [[noreturn]] void fail(const PGresult* res) const;
    void unlock() noexcept;

    std::unique_ptr<PGconn, Closer> m_conn;
    std::string m_uri;
    std::int64_t m_changes = 0;
    bool m_locked = false;  // holds the writers' lock
};

// sql with SQLite's ? and ?N parameters written as PostgreSQL's $N; the
// count of parameters into count.
std::string serverSql(std::string_view sql, int& count);

}  // namespace keyward
