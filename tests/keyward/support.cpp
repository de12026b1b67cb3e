#include "support.h"

#include <fcntl.h>
#include <libpq-fe.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <utility>

namespace kwtest {

void StoreTest::SetUp() {
    char tmpl[] = "/tmp/keyward-test-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    m_dir = tmpl;
    m_dbPath = (m_dir / "store" / "keyward.db").string();
    setenv("KEYWARD_DB", m_dbPath.c_str(), 1);
    setenv("KEYWARD_HASH_COST", "1", 1);
    // The store's events stay out of this machine's system log.
    setenv("TRAILBOOK_SOCKET", (m_dir / "no-log").c_str(), 1);
    keyward_stop();
    const char* engine = std::getenv("KEYWARD_TEST_ENGINE");
    if (engine != nullptr && std::string(engine) == "server") moveToServer();
}

void StoreTest::moveToServer() {
    ASSERT_FALSE(serverHost().empty()) << "no server; run under with_server.sh";
    static int databases = 0;
    m_serverDb = "kw_" + std::to_string(getpid()) + "_" + std::to_string(++databases);
    ASSERT_EQ(onServer("postgres", "CREATE DATABASE " + m_serverDb), "");
    setenv("KEYWARD_DB", serverUri(m_serverDb).c_str(), 1);
}

void StoreTest::TearDown() {
    keyward_stop();
    if (!m_serverDb.empty()) onServer("postgres", "DROP DATABASE " + m_serverDb + " WITH (FORCE)");
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
}

Sqlite openDirect(const std::string& path) {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
    Sqlite db(raw);
    if (rc != SQLITE_OK) throw std::runtime_error("cannot open " + path);
    sqlite3_busy_timeout(raw, 5000);
    return db;
}

std::vector<std::string> column(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
        throw std::runtime_error(sqlite3_errmsg(db));
    std::vector<std::string> rows;
    int rc = 0;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
        rows.emplace_back(text != nullptr ? text : "<null>");
    }
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
    return rows;
}

int exec(sqlite3* db, const std::string& sql) {
    return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
}

std::string serverHost() {
    const char* host = std::getenv("KEYWARD_TEST_SERVER");
    return host != nullptr ? host : "";
}

std::string serverUri(const std::string& db, const std::string& user) {
    return "postgresql://" + user + "@/" + db + "?host=" + serverHost();
}

std::string onServer(const std::string& db, const std::string& sql, const std::string& user) {
    return query(serverUri(db, user), sql);
}

std::string query(const std::string& uri, const std::string& sql, std::string* value) {
    std::unique_ptr<PGconn, decltype(&PQfinish)> c(PQconnectdb(uri.c_str()), &PQfinish);
    if (PQstatus(c.get()) != CONNECTION_OK) return PQerrorMessage(c.get());
    std::unique_ptr<PGresult, decltype(&PQclear)> r(PQexec(c.get(), sql.c_str()), &PQclear);
    const auto status = PQresultStatus(r.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        return PQresultErrorMessage(r.get());
    if (value != nullptr) *value = PQntuples(r.get()) > 0 ? PQgetvalue(r.get(), 0, 0) : "";
    return "";
}

std::string readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> userNames() {
    const int n = get_user_list(nullptr);
    std::vector<UserRecord> recs(static_cast<std::size_t>(std::max(n, 0)));
    if (n > 0) get_user_list(recs.data());
    std::vector<std::string> names;
    for (const auto& r : recs) names.emplace_back(r.name);
    return names;
}

std::vector<std::string> limitNames() {
    const int n = get_limit_list(nullptr);
    std::vector<LimitRecord> recs(static_cast<std::size_t>(std::max(n, 0)));
    if (n > 0) get_limit_list(recs.data());
    std::vector<std::string> names;
    for (const auto& r : recs) names.emplace_back(r.name);
    return names;
}

int execOn(const std::string& path, const std::string& sql) {
    return exec(openDirect(path).get(), sql);
}

LogSink::LogSink(const std::string& path) {
    m_fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    if (bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        throw std::runtime_error("bind " + path);
    const char* saved = std::getenv("TRAILBOOK_SOCKET");
    m_saved = saved != nullptr ? saved : "";
    setenv("TRAILBOOK_SOCKET", path.c_str(), 1);
    if (pipe2(m_stop, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    m_reader = std::thread([this] {
        for (;;) {
            pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_stop[0], POLLIN, 0}};
            if (poll(fds, 2, -1) < 0 && errno != EINTR) return;
            if (fds[1].revents != 0) return;
            drain();
        }
    });
}

LogSink::~LogSink() {
    setenv("TRAILBOOK_SOCKET", m_saved.c_str(), 1);
    close(m_stop[1]);
    m_reader.join();
    close(m_stop[0]);
    close(m_fd);
}

void LogSink::drain() {
    std::lock_guard lock(m_mutex);
    char buf[2048];
    ssize_t n;
    while ((n = recv(m_fd, buf, sizeof buf, MSG_DONTWAIT)) > 0)
        m_lines.emplace_back(buf, static_cast<std::size_t>(n));
}

std::vector<std::string> LogSink::lines() {
    drain();
    std::lock_guard lock(m_mutex);
    return std::exchange(m_lines, {});
}

void runSteps(const std::vector<Step>& steps) {
    for (const Step& s : steps) EXPECT_EQ(s.call(), s.expected) << s.what;
}

int failuresOf(const std::vector<pid_t>& children) {
    int failures = 0;
    for (const pid_t pid : children) {
        int status = 0;
        if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) failures = -1;
        if (failures >= 0) failures += WEXITSTATUS(status);
    }
    return failures;
}

}  // namespace kwtest
