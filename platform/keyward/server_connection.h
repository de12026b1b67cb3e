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
    // The key the store's functions link the trail with, for its owner's
    // tools (copies, upgrades); a station may not read it.
    std::optional<AuditKey> auditKey(bool create) override;
    // Copied row by row from one snapshot, and compared afterwards.
    void backupInto(const std::string& file) override;

    // Where others may read this connection's credential: a password in
    // the location, or a passfile or service file (holding the password)
    // with rights for others. One line each.
    std::vector<std::string> credentialWarnings();
    // Where the location names several servers: the one reached takes no
    // writes, or another takes writes too (an old primary started again as
    // it was). One line each.
    std::vector<std::string> placementWarnings();

    // Runs sql with params ($n); the caller owns the result. Throws DbError.
    PGresult* run(const std::string& sql, const std::vector<std::optional<std::string>>& params);

    // One server of those the location names: its host (or socket folder),
    // address and port as the location gives them, empty for libpq's default.
    struct Host {
        std::string host, hostaddr, port;
    };

private:
    struct Closer {
        void operator()(PGconn* c) const { libpq().PQfinish(c); }
    };
    using Owned = std::unique_ptr<PGresult, void (*)(PGresult*)>;
    void connect();
    void configure();
    void setUp(OpenMode mode);
    void start(TxKind kind);
    // The result of the query just sent (sent: whether libpq took it).
    Owned await(bool sent);
    [[noreturn]] void fail(const PGresult* res);
    [[noreturn]] void giveUp();

    std::unique_ptr<PGconn, Closer> m_conn;
    std::string m_uri;
    // The location's settings, and the hosts it names: each tried in turn.
    std::vector<std::pair<std::string, std::string>> m_settings;
    std::vector<Host> m_hosts;
    std::size_t m_reached = 0;  // the host connected to
    std::int64_t m_changes = 0;
    bool m_gaveUp = false;  // the server did not answer in time: the connection is dropped
};

// sql with SQLite's ? and ?N parameters written as PostgreSQL's $N; the
// count of parameters into count.
std::string serverSql(std::string_view sql, int& count);

}  // namespace keyward
