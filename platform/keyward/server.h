// The store on a PostgreSQL server (libpq): the server side of Database,
// Statement and Transaction. Texts travel as UTF-8, numbers as text.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "database.h"
#include "libpq.h"

namespace keyward {

class ServerConnection {
public:
    // Connects to uri; Create makes the schema when the database has none.
    ServerConnection(const std::string& uri, OpenMode mode);
    ServerConnection(const ServerConnection&) = delete;
    ServerConnection& operator=(const ServerConnection&) = delete;
    ~ServerConnection();

    // Leaves the connection unclosed: a child of fork() shares its socket,
    // and closing it would end the parent's session.
    void abandon() { (void)m_conn.release(); }
    bool broken() const;

    void exec(const char* sql);
    // Runs sql with params ($n); the caller owns the result. Throws DbError.
    PGresult* run(const std::string& sql, const std::vector<std::optional<std::string>>& params);
    std::int64_t changes() const { return m_changes; }

    void begin(Transaction::Kind kind);
    void commit();
    void rollback();

    std::int64_t schemaVersion();
    // The location with any password left out, for messages.
    const std::string& name() const { return m_name; }

private:
    struct Closer {
        void operator()(PGconn* c) const { libpq().PQfinish(c); }
    };
    void connect();
    void configure();
    void setUp(OpenMode mode);
    [[noreturn]] void fail(const PGresult* res) const;
    void unlock();

    std::unique_ptr<PGconn, Closer> m_conn;
    std::string m_uri;
    std::string m_name;
    std::int64_t m_changes = 0;
    bool m_locked = false;  // holds the writers' lock
    bool m_readOnly = false;
};

class ServerStatement {
public:
    ServerStatement(ServerConnection& conn, std::string_view sql);

    void bind(int index, std::optional<std::string> value);
    bool step();
    void reset();
    bool isNull(int column) const;
    std::string text(int column) const;
    std::int64_t integer(int column) const;

private:
    ServerConnection& m_conn;
    std::string m_sql;
    std::vector<std::optional<std::string>> m_params;
    std::unique_ptr<PGresult, void (*)(PGresult*)> m_result{nullptr, libpq().PQclear};
    int m_row = -1;
};

// sql with SQLite's ? and ?N parameters written as PostgreSQL's $N; the
// count of parameters into count.
std::string serverSql(std::string_view sql, int& count);

// The server schema's version (table keyward_schema), counted apart from the
// SQLite file's: each engine's schema moves on with steps of its own.
inline constexpr int kServerSchemaVersion = 1;

}  // namespace keyward
