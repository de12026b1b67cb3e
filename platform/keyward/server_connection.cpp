#include "server_connection.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

#include "caller.h"
#include "copy.h"
#include "server_schema.h"
#include "sqlite_connection.h"

namespace keyward {

namespace {

// The key of the writers' lock: the store's application id.
constexpr const char* kLock = "SELECT pg_advisory_lock(1264013892)";
constexpr const char* kUnlock = "SELECT pg_advisory_unlock(1264013892)";

std::string trimmed(const char* text) {
    std::string s = text != nullptr ? text : "";
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

// The URI without its password, whether in user:password@ or password=.
std::string withoutPassword(std::string uri) {
    const auto start = uri.find("://");
    if (start == std::string::npos) return uri;
    const auto end = uri.find_first_of("/?", start + 3);
    const auto at = uri.rfind('@', end);
    const auto colon = uri.find(':', start + 3);
    if (at != std::string::npos && at > start && colon < at) uri.erase(colon, at - colon);
    for (auto p = uri.find("password=", start); p != std::string::npos;
         p = uri.find("password=", p + 1)) {
        if (uri[p - 1] != '?' && uri[p - 1] != '&') continue;
        const auto value = p + 9;
        uri.replace(value, uri.find('&', value) - value, "***");
    }
    return uri;
}

using Owned = std::unique_ptr<PGresult, void (*)(PGresult*)>;

}  // namespace

std::string serverSql(std::string_view sql, int& count) {
    std::string out;
    count = 0;
    char quote = 0;
    for (std::size_t i = 0; i < sql.size(); ++i) {
        const char c = sql[i];
        if (quote != 0) {
            if (c == quote) quote = 0;
            out += c;
            continue;
        }
        if (c == '\'' || c == '"') quote = c;
        if (c != '?') {
            out += c;
            continue;
        }
        // ?N names parameter N; a bare ? is the one after the highest so far.
        std::size_t j = i + 1;
        while (j < sql.size() && sql[j] >= '0' && sql[j] <= '9') ++j;
        const int n =
            j > i + 1 ? std::atoi(std::string(sql.substr(i + 1, j - i - 1)).c_str()) : count + 1;
        if (n > count) count = n;
        out += "$" + std::to_string(n);
        i = j - 1;
    }
    return out;
}

ServerConnection::ServerConnection(const std::string& uri, OpenMode mode) : m_uri(uri) {
    m_path = withoutPassword(uri);
    m_readOnly = mode == OpenMode::ReadOnly;
    connect();
    setUp(mode);
}

ServerConnection::~ServerConnection() = default;

// No call may hold the window for long: a few seconds to connect, a dead
// peer noticed within three, and no statement or lock wait beyond the time
// SQLite waits for its lock. The URI's own settings win, the encoding not.
void ServerConnection::connect() {
    const char* keys[] = {"connect_timeout", "tcp_user_timeout", "application_name",
                          "dbname",          "client_encoding",  nullptr};
    const char* values[] = {"2", "3000", "keyward", m_uri.c_str(), "UTF8", nullptr};
    m_conn.reset(libpq().PQconnectdbParams(keys, values, 1));
    if (!m_conn) throw DbError(Fault::Unavailable, "out of memory");
    if (libpq().PQstatus(m_conn.get()) != CONNECTION_OK)
        throw DbError(Fault::Unavailable, m_path + ": cannot connect: " +
                                              trimmed(libpq().PQerrorMessage(m_conn.get())));
    configure();
}

void ServerConnection::configure() {
    const std::string timeout = std::to_string(kBusyTimeoutMs);
    exec(("SET statement_timeout = " + timeout + "; SET lock_timeout = " + timeout +
          "; SET idle_in_transaction_session_timeout = 60000; SET client_min_messages = warning")
             .c_str());
    if (m_readOnly) exec("SET default_transaction_read_only = on");
}

bool ServerConnection::broken() const {
    return !m_conn || libpq().PQstatus(m_conn.get()) != CONNECTION_OK;
}

void ServerConnection::fail(const PGresult* res) const {
    const char* state =
        res != nullptr ? libpq().PQresultErrorField(res, PG_DIAG_SQLSTATE) : nullptr;
    const std::string code = state != nullptr ? state : "";
    std::string what = trimmed(res != nullptr ? libpq().PQresultErrorMessage(res) : nullptr);
    if (what.empty()) what = trimmed(libpq().PQerrorMessage(m_conn.get()));
    if (what.rfind("ERROR:  ", 0) == 0) what.erase(0, 8);
    if (broken() || code.rfind("08", 0) == 0 || code.empty())
        throw DbError(Fault::Unavailable,
                      m_path + ": " + (what.empty() ? "connection lost" : what));
    // A serialisation failure or deadlock: the whole transaction may run again.
    if (code == "40001" || code == "40P01") throw DbError(Fault::Retry, what);
    // The statement or lock timeout: the server is as busy as a locked file.
    if (code == "57014" || code == "55P03") throw DbError(Fault::Busy, what);
    if (code.rfind("23", 0) == 0) throw DbError(Fault::Constraint, what);
    // Not allowed to write: a read-only transaction, a standby, or no right.
    if (code == "25006" || code == "42501") throw DbError(Fault::ReadOnly, m_path + ": " + what);
    throw DbError(Fault::Failed, what);
}

void ServerConnection::exec(const char* sql) {
    Owned res(libpq().PQexec(m_conn.get(), sql), libpq().PQclear);
    const auto status = res ? libpq().PQresultStatus(res.get()) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) fail(res.get());
}

PGresult* ServerConnection::run(const std::string& sql,
                                const std::vector<std::optional<std::string>>& params) {
    std::vector<const char*> values;
    for (const auto& p : params) values.push_back(p ? p->c_str() : nullptr);
    Owned res(libpq().PQexecParams(m_conn.get(), sql.c_str(), static_cast<int>(values.size()),
                                   nullptr, values.data(), nullptr, nullptr, 0),
              libpq().PQclear);
    const auto status = res ? libpq().PQresultStatus(res.get()) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) fail(res.get());
    const char* changed = libpq().PQcmdTuples(res.get());
    m_changes = changed[0] != '\0' ? std::atoll(changed) : 0;
    return res.release();
}

// Writers take the store's lock before their transaction begins, so its
// snapshot already holds every earlier writer's change: writes run one
// after another, as BEGIN IMMEDIATE makes them on SQLite, and SERIALIZABLE
// still guards against anyone writing without the lock (a serialisation
// failure then reports retry). Reads see one snapshot throughout.
void ServerConnection::begin(TxKind kind) {
    const auto attempt = [&] {
        if (kind == TxKind::Write) {
            exec(kLock);
            m_locked = true;
            exec("BEGIN ISOLATION LEVEL SERIALIZABLE");
        } else {
            exec("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
        }
    };
    try {
        attempt();
        return;
    } catch (const DbError&) {
        if (!broken()) {
            unlock();
            throw;
        }
    }
    // The server went away since the last call (a restart): one new
    // connection, at the start of a transaction where nothing is lost.
    m_locked = false;
    libpq().PQreset(m_conn.get());
    if (broken())
        throw DbError(Fault::Unavailable, m_path + ": cannot connect: " +
                                              trimmed(libpq().PQerrorMessage(m_conn.get())));
    configure();
    attempt();
}

void ServerConnection::commit() {
    try {
        exec("COMMIT");
    } catch (...) {
        unlock();
        throw;
    }
    unlock();
}

void ServerConnection::rollback() noexcept {
    if (!broken()) Owned(libpq().PQexec(m_conn.get(), "ROLLBACK"), libpq().PQclear);
    unlock();
}

void ServerConnection::unlock() noexcept {
    if (!m_locked) return;
    m_locked = false;
    if (!broken()) Owned(libpq().PQexec(m_conn.get(), kUnlock), libpq().PQclear);
}

// A station reads the version through the store's function, the owner
// (and a station of an older schema) from the table.
std::int64_t ServerConnection::schemaVersion() {
    const std::string way = [&] {
        Statement st(*this,
                     "SELECT CASE WHEN to_regclass('keyward_schema') IS NULL THEN 'none' "
                     "WHEN has_table_privilege('keyward_schema', 'SELECT') THEN 'table' "
                     "WHEN to_regprocedure('keyward_version()') IS NULL THEN 'denied' "
                     "WHEN has_function_privilege('keyward_version()', 'EXECUTE') THEN 'function' "
                     "ELSE 'denied' END, current_user");
        st.step();
        return st.text(0) == "denied" ? "denied " + st.text(1) : st.text(0);
    }();
    if (way == "none") return 0;
    if (way == "table") return queryInt(*this, "SELECT max(version) FROM keyward_schema");
    if (way == "function") return queryInt(*this, "SELECT keyward_version()");
    throw DbError(Fault::Unavailable, m_path + ": the role " + way.substr(7) +
                                          " may not use this store; its owner grants it "
                                          "keyward_station");
}

void ServerConnection::setUp(OpenMode mode) {
    const auto version = schemaVersion();
    if (version > kServerSchemaVersion)
        throw DbError(Fault::Failed,
                      "database schema " + std::to_string(version) + " is newer than this program");
    if (version == kServerSchemaVersion) return;
    if (version == 0 && mode != OpenMode::Create)
        throw DbError(Fault::NotAStore, "no keyward store at " + m_path);
    if (mode == OpenMode::ReadOnly) return;  // an older schema is read as it is
    // Only the owner may change the schema; a station says whom to ask.
    if (version != 0 && queryInt(*this,
                                 "SELECT pg_has_role(relowner, 'USAGE') FROM pg_class "
                                 "WHERE oid = 'keyward_schema'::regclass") == 0)
        throw DbError(Fault::Unavailable,
                      m_path + ": the store has schema " + std::to_string(version) + " of " +
                          std::to_string(kServerSchemaVersion) +
                          "; its owner brings it up to date with keyward migrate --upgrade");
    begin(TxKind::Write);
    try {
        // Judged again under the lock: another station may have done it.
        if (const auto now = schemaVersion(); now < kServerSchemaVersion)
            upgradeServerSchema(*this, now);
        commit();
    } catch (const DbError& e) {
        rollback();
        if (e.fault() != Fault::ReadOnly || version != 0) throw;
        throw DbError(Fault::Unavailable, m_path + ": cannot create the store here (" + e.what() +
                                              "); its owner runs keyward init --store");
    }
}

std::int64_t ServerConnection::issuedAuditIds() {
    return queryInt(*this, "SELECT last FROM audit_issued");
}

// A sequence would not roll back with its transaction; the row does.
void ServerConnection::noteAuditId(std::int64_t id) {
    Statement issued(*this, "UPDATE audit_issued SET last = ?");
    issued.bind(1, id).step();
}

void ServerConnection::continueIds(std::int64_t issuedAudit) {
    exec(
        "SELECT setval('users_id_seq', coalesce((SELECT max(id) FROM users), 0) + 1, false);"
        "SELECT setval('limits_id_seq', coalesce((SELECT max(id) FROM limits), 0) + 1, false)");
    noteAuditId(issuedAudit);
}

// The server keeps its own integrity; what is the store's business is that
// stations reach the tables through its functions alone.
std::vector<std::string> ServerConnection::integrityProblems() {
    return serverProtectionProblems(*this);
}

// The owner's alone (stations never read it; the functions do), read anew
// each time: a key made in a transaction that rolled back never was.
std::optional<AuditKey> ServerConnection::auditKey(bool create) {
    const auto stored = [&]() -> std::optional<std::string> {
        Statement st(*this, "SELECT encode(key, 'hex') FROM audit_key");
        return st.step() ? std::optional(st.text(0)) : std::nullopt;
    };
    auto hex = stored();
    if (!hex && create && !m_readOnly) {
        exec("INSERT INTO audit_key SELECT gen_random_bytes(32)");
        hex = stored();
    }
    if (!hex) return std::nullopt;
    auto key = auditKeyFromHex(*hex);
    explicit_bzero(hex->data(), hex->size());
    if (!key) throw DbError(Fault::Unavailable, "the audit key of " + m_path + " is damaged");
    return key;
}

namespace {

bool othersMayRead(const std::string& file) {
    struct stat st {};
    return stat(file.c_str(), &st) == 0 && (st.st_mode & 0077) != 0;
}

// Whether file has a section [service] that sets a password.
bool holdsPassword(const std::string& file, const std::string& service) {
    std::ifstream in(file);
    bool inSection = false;
    for (std::string line; std::getline(in, line);) {
        line.erase(0, line.find_first_not_of(" \t"));
        if (!line.empty() && line[0] == '[') {
            inSection = line.rfind("[" + service + "]", 0) == 0;
            continue;
        }
        if (!inSection || line.rfind("password", 0) != 0) continue;
        const auto rest = line.find_first_not_of(" \t", 8);
        if (rest != std::string::npos && line[rest] == '=') return true;
    }
    return false;
}

// Where libpq looks for service files: the user's (PGSERVICEFILE, else
// ~/.pg_service.conf), then the system's.
std::vector<std::string> serviceFiles() {
    std::vector<std::string> files;
    if (const char* named = std::getenv("PGSERVICEFILE"); named != nullptr && *named != '\0') {
        files.emplace_back(named);
    } else {
        const char* home = std::getenv("HOME");
        const passwd* pw = home == nullptr ? getpwuid(getuid()) : nullptr;
        if (pw != nullptr) home = pw->pw_dir;
        if (home != nullptr) files.push_back(std::string(home) + "/.pg_service.conf");
    }
    const char* sysconf = std::getenv("PGSYSCONFDIR");
    files.push_back(std::string(sysconf != nullptr ? sysconf : "/etc/postgresql-common") +
                    "/pg_service.conf");
    return files;
}

}  // namespace

std::vector<std::string> ServerConnection::credentialWarnings() {
    std::vector<std::string> out;
    if (withoutPassword(m_uri) != m_uri)
        out.push_back(
            "the location holds its password; keep it in the passfile or service "
            "file of the service's user, mode 0600");
    // The connection knows its passfile; the service only the location
    // (or PGSERVICE) names.
    const auto option = [](PQconninfoOption* info, const char* name) {
        std::string value;
        for (const PQconninfoOption* o = info; o != nullptr && o->keyword != nullptr; ++o)
            if (o->val != nullptr && std::strcmp(o->keyword, name) == 0) value = o->val;
        libpq().PQconninfoFree(info);
        return value;
    };
    const std::string passfile = option(libpq().PQconninfo(m_conn.get()), "passfile");
    std::string service = option(libpq().PQconninfoParse(m_uri.c_str(), nullptr), "service");
    if (const char* named = std::getenv("PGSERVICE"); service.empty() && named != nullptr)
        service = named;
    if (!passfile.empty() && othersMayRead(passfile))
        out.push_back("the passfile " + passfile + " may be read by others; make it mode 0600");
    if (!service.empty())
        for (const auto& file : serviceFiles())
            if (holdsPassword(file, service) && othersMayRead(file))
                out.push_back("the service file " + file + " holds the password of service " +
                              service + " and may be read by others; make it mode 0600");
    return out;
}

void ServerConnection::backupInto(const std::string& file) {
    SqliteConnection copy(file, OpenMode::Create);
    copyStore(*this, copy, "os:" + userName(getuid()));
    verifyCopy(*this, copy);
}

namespace {

class ServerStatement final : public StatementImpl {
public:
    ServerStatement(ServerConnection& conn, std::string_view sql) : m_conn(conn) {
        int count = 0;
        m_sql = serverSql(sql, count);
        m_params.resize(static_cast<std::size_t>(count));
    }

    void bind(int index, std::int64_t value) override { set(index, std::to_string(value)); }
    void bind(int index, std::string_view text) override { set(index, std::string(text)); }

    bool step() override {
        if (!m_result) {
            m_result.reset(m_conn.run(m_sql, m_params));
            m_row = 0;
        } else {
            ++m_row;
        }
        return m_row < libpq().PQntuples(m_result.get());
    }

    void reset() override {
        m_result.reset();
        m_row = -1;
        for (auto& p : m_params) p.reset();
    }

    bool isNull(int column) const override {
        return m_result == nullptr || m_row < 0 || m_row >= libpq().PQntuples(m_result.get()) ||
               libpq().PQgetisnull(m_result.get(), m_row, column) != 0;
    }

    std::string text(int column) const override {
        if (isNull(column)) return {};
        return std::string(
            libpq().PQgetvalue(m_result.get(), m_row, column),
            static_cast<std::size_t>(libpq().PQgetlength(m_result.get(), m_row, column)));
    }

    std::int64_t integer(int column) const override {
        if (isNull(column)) return 0;
        const char* v = libpq().PQgetvalue(m_result.get(), m_row, column);
        // A boolean answers as t or f.
        if (v[0] == 't' && v[1] == '\0') return 1;
        return std::atoll(v);
    }

private:
    void set(int index, std::string value) {
        if (index < 1) throw DbError(Fault::Failed, "parameter index out of range");
        if (static_cast<std::size_t>(index) > m_params.size())
            m_params.resize(static_cast<std::size_t>(index));
        m_params[static_cast<std::size_t>(index - 1)] = std::move(value);
    }

    ServerConnection& m_conn;
    std::string m_sql;
    std::vector<std::optional<std::string>> m_params;
    std::unique_ptr<PGresult, void (*)(PGresult*)> m_result{nullptr, libpq().PQclear};
    int m_row = -1;
};

}  // namespace

std::unique_ptr<StatementImpl> ServerConnection::prepare(std::string_view sql) {
    return std::make_unique<ServerStatement>(*this, sql);
}

}  // namespace keyward
