// Shared helpers of the store's tests: a fresh database per test and direct
// SQL on it.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "process.h"
#include "store/keyward.h"

namespace kwtest {

// Each test gets its own folder and database; the hash cost is the lowest so
// the suite stays fast. With KEYWARD_TEST_ENGINE=server (under
// with_server.sh) the database is a fresh one on the test's server instead.
class StoreTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Points the store at a new database of its own on the test's server.
    void moveToServer();

    std::filesystem::path m_dir;
    std::string m_dbPath;
    std::string m_serverDb;  // the server database's name, or empty
};

// The host part with_server.sh gives, empty when no server runs.
std::string serverHost();
std::string serverUri(const std::string& db, const std::string& user = "postgres");
// Runs sql in the server's database db as user: "" when done, else the error.
std::string onServer(const std::string& db, const std::string& sql,
                     const std::string& user = "postgres");
// Runs sql on the server at uri: "" when done, else the error; with value
// set, the first row's first column ("" for none).
std::string query(const std::string& uri, const std::string& sql, std::string* value = nullptr);

struct SqliteCloser {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Sqlite = std::unique_ptr<sqlite3, SqliteCloser>;

// A second, independent connection to the file, as another process has.
Sqlite openDirect(const std::string& path);
// The first column of every row; throws on an SQL error.
std::vector<std::string> column(sqlite3* db, const std::string& sql);
// SQLITE_OK or the error code of running sql.
int exec(sqlite3* db, const std::string& sql);
// The same on a connection of its own, closed again: a hand edit of the file.
int execOn(const std::string& path, const std::string& sql);

std::string readBytes(const std::filesystem::path& path);

// The names of get_user_list / get_limit_list, through the two-call listing.
std::vector<std::string> userNames();
std::vector<std::string> limitNames();

// One call of a table-driven test: what it is, the call, the code it must
// return.
struct Step {
    const char* what;
    std::function<int()> call;
    int expected;
};
// Runs each step in turn, expecting its code.
void runSteps(const std::vector<Step>& steps);

// Waits for every child: the sum of their exit codes, or -1 when one did not
// exit by itself.
int failuresOf(const std::vector<pid_t>& children);

// A stand-in for the system log's socket at path, named by TRAILBOOK_SOCKET
// while it lives. Drained as messages come: the kernel queues only a few.
class LogSink {
public:
    explicit LogSink(const std::string& path);
    ~LogSink();
    LogSink(const LogSink&) = delete;
    LogSink& operator=(const LogSink&) = delete;
    // The messages that arrived since the last call.
    std::vector<std::string> lines();

private:
    void drain();

    int m_fd = -1;
    int m_stop[2] = {-1, -1};
    std::string m_saved;
    std::mutex m_mutex;
    std::vector<std::string> m_lines;
    std::thread m_reader;
};

}  // namespace kwtest
