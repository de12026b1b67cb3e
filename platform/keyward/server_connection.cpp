#include "server_connection.h"

#include <poll.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "caller.h"
#include "copy.h"
#include "deadline.h"
#include "server_schema.h"
#include "sqlite_connection.h"

namespace keyward {

namespace {

// The writers' lock, keyed by the store's application id: taken inside the
// write's transaction, it ends with it, whether by COMMIT, ROLLBACK or the
// server ending a session whose station stopped.
constexpr const char* kBeginWrite =
    "BEGIN ISOLATION LEVEL READ COMMITTED; SELECT pg_advisory_xact_lock(1264013892)";

// A session idle in its transaction this long is ended by the server, and
// the writers' lock with it: a station stopped mid-write holds up the others
// no longer. Twice the busy timeout, so a busy write never runs into it.
constexpr int kIdleInTransactionMs = 2 * kBusyTimeoutMs;
// A session idle this long between calls is closed by the server, so that a
// station that stopped holds nothing there; its next call connects again.
constexpr int kIdleSessionMs = 6 * kBusyTimeoutMs;
// Each host named has this long to complete the connection (TLS and
// authentication included), unless the location's connect_timeout says
// otherwise; then the next host is tried.
constexpr int kConnectSeconds = 2;

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

bool succeeded(const PGresult* res) {
    const auto status = libpq().PQresultStatus(res);
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

// The result of the query just sent on c, by deadline: the first error,
// else the last result, as PQexec gives them. nullptr with expired set when
// the deadline passed first; nullptr alone when the connection failed.
PGresult* awaitResult(PGconn* c, Deadline deadline, bool& expired) {
    const LibPq& pq = libpq();
    expired = false;
    // Sent in full first; the server may have to be read from meanwhile.
    for (int left; (left = pq.PQflush(c)) != 0;) {
        if (left < 0) return nullptr;
        if (!ready(pq.PQsocket(c), POLLIN | POLLOUT, deadline)) {
            expired = true;
            return nullptr;
        }
        if (pq.PQconsumeInput(c) == 0) return nullptr;
    }
    Owned kept(nullptr, pq.PQclear);
    for (;;) {
        while (pq.PQisBusy(c) != 0) {
            if (!ready(pq.PQsocket(c), POLLIN, deadline)) {
                expired = true;
                return nullptr;
            }
            if (pq.PQconsumeInput(c) == 0) return kept.release();
        }
        PGresult* res = pq.PQgetResult(c);
        if (res == nullptr) return kept.release();
        if (!kept || (succeeded(kept.get()) && !succeeded(res)))
            kept.reset(res);
        else
            pq.PQclear(res);
    }
}

// Asks the server to stop the statement given up on, without waiting for
// it: PQcancel waits until the server closes the cancel's own connection,
// which a frozen server never does. A few such requests at a time at most.
void cancelInBackground(PGconn* c) {
    static std::atomic<int> pending{0};
    PGcancel* cancel = libpq().PQgetCancel(c);
    if (cancel == nullptr) return;
    if (pending.fetch_add(1) >= 4) {
        pending.fetch_sub(1);
        libpq().PQfreeCancel(cancel);
        return;
    }
    std::thread([cancel] {
        char why[256];
        libpq().PQcancel(cancel, why, sizeof why);
        libpq().PQfreeCancel(cancel);
        pending.fetch_sub(1);
    }).detach();
}

std::vector<std::string> split(const std::string& list) {
    std::vector<std::string> parts;
    for (std::size_t start = 0;;) {
        const auto comma = list.find(',', start);
        parts.push_back(list.substr(start, comma - start));
        if (comma == std::string::npos) return parts;
        start = comma + 1;
    }
}

// The location's own settings (libpq's parse, nothing it would default)
// and, apart, the servers it names, one per host.
void parseLocation(const std::string& uri, const std::string& path,
                   std::vector<std::pair<std::string, std::string>>& settings,
                   std::vector<ServerConnection::Host>& hosts) {
    char* error = nullptr;
    PQconninfoOption* options = libpq().PQconninfoParse(uri.c_str(), &error);
    if (options == nullptr) {
        const std::string why = trimmed(error != nullptr ? error : "out of memory");
        std::free(error);
        throw DbError(Fault::Unavailable, path + ": " + why);
    }
    std::string host, hostaddr, port;
    for (const PQconninfoOption* o = options; o->keyword != nullptr; ++o) {
        if (o->val == nullptr) continue;
        const std::string key = o->keyword;
        if (key == "host")
            host = o->val;
        else if (key == "hostaddr")
            hostaddr = o->val;
        else if (key == "port")
            port = o->val;
        else
            settings.emplace_back(key, o->val);
    }
    libpq().PQconninfoFree(options);
    const auto hostList = split(host), addrList = split(hostaddr), portList = split(port);
    const std::size_t count = std::max(hostList.size(), addrList.size());
    const auto nth = [&](const std::vector<std::string>& list, std::size_t i) {
        return list.size() == count ? list[i] : list.size() == 1 ? list[0] : std::string();
    };
    for (std::size_t i = 0; i < count; ++i)
        hosts.push_back({nth(hostList, i), nth(addrList, i), nth(portList, i)});
}

std::string describe(const ServerConnection::Host& h) {
    std::string name = h.host.empty() ? h.hostaddr : h.host;
    if (name.empty()) name = "the default server";
    return h.port.empty() ? name : name + ":" + h.port;
}

// Connects to one host, as settings say and within the host's time (the
// location's connect_timeout, else kConnectSeconds); nullptr with why set
// when it cannot.
PGconn* connectTo(const std::vector<std::pair<std::string, std::string>>& settings,
                  const ServerConnection::Host& host, std::string& why) {
    const LibPq& pq = libpq();
    // Ours first, so that the location's own win; the encoding is ours.
    std::vector<std::pair<std::string, std::string>> all = {{"tcp_user_timeout", "3000"},
                                                            {"application_name", "keyward"}};
    int seconds = kConnectSeconds;
    for (const auto& [key, value] : settings) {
        if (key == "connect_timeout") seconds = std::max(2, std::atoi(value.c_str()));
        all.emplace_back(key, value);
    }
    for (const auto& [key, value] :
         {std::pair{"host", &host.host}, std::pair{"hostaddr", &host.hostaddr},
          std::pair{"port", &host.port}})
        if (!value->empty()) all.emplace_back(key, *value);
    all.emplace_back("client_encoding", "UTF8");
    std::vector<const char*> keys, values;
    for (const auto& [key, value] : all) {
        keys.push_back(key.c_str());
        values.push_back(value.c_str());
    }
    keys.push_back(nullptr);
    values.push_back(nullptr);

    const Deadline deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    PGconn* c = pq.PQconnectStartParams(keys.data(), values.data(), 0);
    if (c == nullptr) {
        why = "out of memory";
        return nullptr;
    }
    for (auto state = PGRES_POLLING_WRITING;; state = pq.PQconnectPoll(c)) {
        if (state == PGRES_POLLING_OK && pq.PQsetnonblocking(c, 1) == 0) return c;
        if (state == PGRES_POLLING_FAILED || state == PGRES_POLLING_OK ||
            pq.PQstatus(c) == CONNECTION_BAD) {
            why = describe(host) + ": " + trimmed(pq.PQerrorMessage(c));
            break;
        }
        if (!ready(pq.PQsocket(c), state == PGRES_POLLING_READING ? POLLIN : POLLOUT, deadline)) {
            why = describe(host) + ": no answer within " + std::to_string(seconds) + " s";
            break;
        }
    }
    pq.PQfinish(c);
    return nullptr;
}

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
    parseLocation(m_uri, m_path, m_settings, m_hosts);
    connect();
    setUp(mode);
}

ServerConnection::~ServerConnection() = default;

// No call may hold the window for long: each host named gets a few seconds
// to connect (the next one is tried after), a dead peer is noticed within
// three, and every round trip after has its deadline (await).
void ServerConnection::connect() {
    m_conn.reset();
    std::string why;
    for (std::size_t i = 0; i < m_hosts.size(); ++i) {
        std::string failed;
        if (PGconn* c = connectTo(m_settings, m_hosts[i], failed)) {
            m_conn.reset(c);
            m_reached = i;
            configure();
            return;
        }
        why += (why.empty() ? "" : "; ") + failed;
    }
    throw DbError(Fault::Unavailable, m_path + ": cannot connect: " + why);
}

void ServerConnection::configure() {
    const std::string timeout = std::to_string(kBusyTimeoutMs);
    exec(("SET statement_timeout = " + timeout + "; SET lock_timeout = " + timeout +
          "; SET idle_in_transaction_session_timeout = " + std::to_string(kIdleInTransactionMs) +
          "; SET idle_session_timeout = " + std::to_string(kIdleSessionMs) +
          "; SET client_min_messages = warning")
             .c_str());
    if (m_readOnly) exec("SET default_transaction_read_only = on");
}

bool ServerConnection::broken() const {
    return !m_conn || libpq().PQstatus(m_conn.get()) != CONNECTION_OK;
}

void ServerConnection::fail(const PGresult* res) {
    const char* state =
        res != nullptr ? libpq().PQresultErrorField(res, PG_DIAG_SQLSTATE) : nullptr;
    const std::string code = state != nullptr ? state : "";
    std::string what = trimmed(res != nullptr ? libpq().PQresultErrorMessage(res) : nullptr);
    if (what.empty() && m_conn) what = trimmed(libpq().PQerrorMessage(m_conn.get()));
    for (const char* severity : {"ERROR:  ", "FATAL:  "})
        if (what.rfind(severity, 0) == 0) what.erase(0, 8);
    // The server ended the session (shut down, idle too long): the next call
    // connects again.
    if (code.rfind("57P", 0) == 0 || code == "25P03") m_conn.reset();
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

// The server stopped answering: a frozen server's kernel still takes the
// bytes, so only a deadline notices. The connection is dropped and the call
// fails; the next one connects again.
void ServerConnection::giveUp() {
    cancelInBackground(m_conn.get());
    m_conn.reset();
    m_gaveUp = true;
    throw DbError(Fault::Unavailable, m_path + ": the server did not answer within " +
                                          std::to_string(kServerAnswerMs / 1000) +
                                          " s; the connection is dropped");
}

ServerConnection::Owned ServerConnection::await(bool sent) {
    if (!m_conn) throw DbError(Fault::Unavailable, m_path + ": not connected");
    if (!sent) fail(nullptr);
    bool expired = false;
    Owned res(
        awaitResult(m_conn.get(),
                    std::chrono::steady_clock::now() + std::chrono::milliseconds(kServerAnswerMs),
                    expired),
        libpq().PQclear);
    if (expired) giveUp();
    if (!res || !succeeded(res.get())) fail(res.get());
    return res;
}

void ServerConnection::exec(const char* sql) {
    await(m_conn && libpq().PQsendQuery(m_conn.get(), sql) == 1);
}

PGresult* ServerConnection::run(const std::string& sql,
                                const std::vector<std::optional<std::string>>& params) {
    std::vector<const char*> values;
    for (const auto& p : params) values.push_back(p ? p->c_str() : nullptr);
    Owned res = await(m_conn && libpq().PQsendQueryParams(m_conn.get(), sql.c_str(),
                                                          static_cast<int>(values.size()), nullptr,
                                                          values.data(), nullptr, nullptr, 0) == 1);
    const char* changed = libpq().PQcmdTuples(res.get());
    m_changes = changed[0] != '\0' ? std::atoll(changed) : 0;
    return res.release();
}

// Writers take the store's lock first thing in their transaction, so they
// run one after another, as BEGIN IMMEDIATE makes them on SQLite; each
// statement of a write reads what every earlier writer committed (READ
// COMMITTED: a SERIALIZABLE snapshot would be taken by the lock's own
// statement, before its wait, and every writer that waited would then fail
// to serialise). Reads see one snapshot throughout.
void ServerConnection::start(TxKind kind) {
    try {
        exec(kind == TxKind::Write ? kBeginWrite
                                   : "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
    } catch (const DbError&) {
        // The lock not had in time leaves the transaction begun, and failed.
        rollback();
        throw;
    }
}

void ServerConnection::begin(TxKind kind) {
    m_gaveUp = false;
    if (!m_conn) connect();
    try {
        start(kind);
        return;
    } catch (const DbError&) {
        // A server that does not answer is not asked again within this call.
        if (!broken() || m_gaveUp) throw;
    }
    // The server closed the connection since the last call (a restart, an
    // idle session ended): one new connection, at the start of a
    // transaction where nothing is lost.
    connect();
    start(kind);
}

// A COMMIT the server does not confirm may have been made or not, as after
// a crash: the caller is told the store is unavailable, and the next call
// sees which.
void ServerConnection::commit() {
    try {
        exec("COMMIT");
    } catch (const DbError& e) {
        if (e.fault() != Fault::Unavailable) throw;
        throw DbError(Fault::Unavailable,
                      std::string(e.what()) + "; whether the change was made is not known");
    }
}

void ServerConnection::rollback() noexcept {
    if (broken()) return;
    try {
        exec("ROLLBACK");
    } catch (const DbError&) {
        // Dropped with its connection: the server rolls it back.
    }
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

// With several hosts named, the store must take writes at one only: a
// second primary (an old one started again as it was) splits the store, and
// stations going back to it lose what was written since.
std::vector<std::string> ServerConnection::placementWarnings() {
    if (m_hosts.size() < 2 || broken()) return {};
    const auto writable = [](PGconn* c) -> std::optional<bool> {
        bool expired = false;
        if (libpq().PQsendQuery(c, "SELECT pg_is_in_recovery()") != 1) return std::nullopt;
        Owned res(
            awaitResult(
                c, std::chrono::steady_clock::now() + std::chrono::milliseconds(kServerAnswerMs),
                expired),
            libpq().PQclear);
        if (!res || !succeeded(res.get()) || libpq().PQntuples(res.get()) != 1) return std::nullopt;
        return std::strcmp(libpq().PQgetvalue(res.get(), 0, 0), "f") == 0;
    };
    std::vector<std::string> warnings;
    const std::string reached = describe(m_hosts[m_reached]);
    if (writable(m_conn.get()) == false)
        warnings.push_back("the server reached, " + reached +
                           ", takes no writes (a standby); name the hosts with "
                           "target_session_attrs=read-write");
    // Asked as any session, so that a standby answers too.
    auto settings = m_settings;
    std::erase_if(settings, [](const auto& s) { return s.first == "target_session_attrs"; });
    for (std::size_t i = 0; i < m_hosts.size(); ++i) {
        if (i == m_reached) continue;
        std::string why;
        std::unique_ptr<PGconn, Closer> other(connectTo(settings, m_hosts[i], why));
        if (other && writable(other.get()) == true)
            warnings.push_back(describe(m_hosts[i]) + " takes writes too, besides " + reached +
                               ", the server reached: two primaries split the store; make the "
                               "old primary a standby of the new one (pg_rewind, or a new base "
                               "backup) before stations may reach it");
    }
    return warnings;
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
