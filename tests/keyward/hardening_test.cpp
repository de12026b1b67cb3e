// The store against contention, files that are not its own, symlinked
// folders, tampering with the audit trail, and the system log.
#include <fcntl.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cstring>
#include <fstream>
#include <functional>

#include "support.h"

using namespace kwtest;

namespace {

class ContentionTest : public StoreTest {};
class HostileFileTest : public StoreTest {
protected:
    RunResult keyward(const std::vector<std::string>& args) { return run(KEYWARD_CLI, args); }
};
class SystemLogTest : public StoreTest {};

// The first schema, as stores made before they were marked have it.
constexpr const char* kSchemaV1 = R"sql(
CREATE TABLE users(
    id    INTEGER PRIMARY KEY AUTOINCREMENT,   -- never reused: a login holds an id
    name  TEXT NOT NULL UNIQUE,
    level INTEGER NOT NULL CHECK (level BETWEEN 0 AND 4),
    mask  INTEGER NOT NULL CHECK (mask BETWEEN 0 AND 4294967295),
    hash  TEXT NOT NULL
);
CREATE TABLE limits(
    id    INTEGER PRIMARY KEY AUTOINCREMENT,   -- id order is list order
    name  TEXT NOT NULL UNIQUE,
    title TEXT NOT NULL
);
CREATE TRIGGER limits_at_most_32 BEFORE INSERT ON limits
    WHEN (SELECT count(*) FROM limits) >= 32
    BEGIN SELECT RAISE(ABORT, 'at most 32 permission items'); END;
CREATE TABLE audit(
    id      INTEGER PRIMARY KEY AUTOINCREMENT,
    at      TEXT NOT NULL,                     -- UTC, ISO 8601
    actor   TEXT,                              -- logged-in user, NULL for none
    action  TEXT NOT NULL,
    target  TEXT,
    detail  TEXT,                              -- what changed, never a password
    outcome TEXT NOT NULL,
    pid     INTEGER NOT NULL
);
CREATE TRIGGER audit_no_update BEFORE UPDATE ON audit
    BEGIN SELECT RAISE(ABORT, 'the audit trail is append-only'); END;
CREATE TRIGGER audit_no_delete BEFORE DELETE ON audit
    BEGIN SELECT RAISE(ABORT, 'the audit trail is append-only'); END;
CREATE TABLE settings(
    key   TEXT PRIMARY KEY,
    value TEXT NOT NULL
);
)sql";

Sqlite createDirect(const std::string& path) {
    sqlite3* raw = nullptr;
    sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    return Sqlite(raw);
}

// An unmarked store of the first schema with one user whose password is
// empty (a yescrypt hash of "" at cost 1) and one audit row.
void makeVersion1Store(const std::string& path, const std::string& extraSql = "") {
    auto db = createDirect(path);
    ASSERT_EQ(exec(db.get(), kSchemaV1), SQLITE_OK);
    ASSERT_EQ(exec(db.get(),
                   "INSERT INTO users(name, level, mask, hash) VALUES ('old', 4, 4294967295, "
                   "'$y$j75$VN9bE0YSJJwdWzFhUwcU/.$aiwrOM6LkBGPqtSEeSViCoooykznRfSGjT6PQ6ByjG5');"
                   "INSERT INTO audit(at, action, target, outcome, pid) "
                   "VALUES ('2026-01-01T00:00:00.000Z', 'init', 'old', 'ok', 1);"
                   "PRAGMA user_version = 1;" +
                       extraSql),
              SQLITE_OK);
}

mode_t modeOf(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

}  // namespace

TEST_F(ContentionTest, SixteenStationsLogInAtOnceAtTheBuiltInCost) {
    constexpr int kStations = 16;
    constexpr int kLogins = 8;
    unsetenv("KEYWARD_HASH_COST");
    ASSERT_EQ(add_user("op", "pw", 1, 0), KEYWARD_OK);
    keyward_stop();

    // Every station waits at the pipe until all are there, then logs in;
    // every fourth attempt is wrong and must stay wrong.
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    std::vector<pid_t> stations;
    for (int s = 0; s < kStations; ++s) {
        const pid_t pid = fork();
        if (pid == 0) {
            close(go[1]);
            char c;
            if (read(go[0], &c, 1) != 0) _exit(100);
            int unexpected = 0;
            for (int i = 0; i < kLogins; ++i) {
                const bool wrong = i % 4 == 3;
                const int rc = login("op", wrong ? "pw?" : "pw");
                if (rc != (wrong ? ERR_BAD_PASSWORD : KEYWARD_OK)) {
                    std::fprintf(stderr, "station %d login %d: %d\n", s, i, rc);
                    ++unexpected;
                }
            }
            _exit(unexpected);
        }
        stations.push_back(pid);
    }
    close(go[0]);
    close(go[1]);
    EXPECT_EQ(failuresOf(stations), 0);

    auto db = openDirect(m_dbPath);
    EXPECT_EQ(column(db.get(),
                     "SELECT outcome || ' ' || count(*) FROM audit WHERE action = "
                     "'login' GROUP BY outcome ORDER BY outcome"),
              (std::vector<std::string>{"bad_password " + std::to_string(kStations * 2),
                                        "ok " + std::to_string(kStations * 6)}));
}

TEST_F(ContentionTest, PasswordChangedBetweenCheckAndCommitIsCheckedAgain) {
    // A login whose check raced a password change must judge the new hash:
    // the old password stops working at once, even for a process that read
    // the row before the change.
    ASSERT_EQ(add_user("op", "old", 1, 0), KEYWARD_OK);
    ASSERT_EQ(login("op", "old"), KEYWARD_OK);
    ASSERT_TRUE(inChild([] { return change_pwd("op", "old", "new") == KEYWARD_OK; }));
    EXPECT_EQ(login("op", "old"), ERR_BAD_PASSWORD);
    EXPECT_EQ(change_pwd("op", "old", "x"), ERR_BAD_PASSWORD);
    EXPECT_EQ(login("op", "new"), KEYWARD_OK);
}

// Each file: the library refuses it, the read-only command names the cause,
// and the file keeps its bytes and mode.
TEST_F(HostileFileTest, FilesThatAreNotOursAreRefusedAndLeftAlone) {
    struct Case {
        const char* what;
        std::function<void(const std::string&)> make;
        std::string message;  // after "keyward: "; PATH stands for the path
    };
    const std::string notOurs = "not a keyward database: PATH";
    const std::vector<Case> cases = {
        {"another program's SQLite file",
         [](const std::string& p) {
             ASSERT_EQ(exec(createDirect(p).get(),
                            "CREATE TABLE notes(x); INSERT INTO notes VALUES ('mine');"),
                       SQLITE_OK);
         },
         notOurs},
        {"an SQLite file with tables of our names",
         [](const std::string& p) {
             ASSERT_EQ(exec(createDirect(p).get(),
                            "CREATE TABLE users(id, name); PRAGMA user_version = 1;"),
                       SQLITE_OK);
         },
         notOurs},
        {"our first schema and one table more",
         [](const std::string& p) { makeVersion1Store(p, "CREATE TABLE extra(x);"); }, notOurs},
        {"another application id",
         [](const std::string& p) {
             ASSERT_EQ(exec(createDirect(p).get(), "PRAGMA application_id = 7; CREATE TABLE t(x);"),
                       SQLITE_OK);
         },
         notOurs},
        {"garbage", [](const std::string& p) { std::ofstream(p) << std::string(5000, '\x5a'); },
         notOurs},
        {"a truncated store",
         [this](const std::string& p) {
             ASSERT_EQ(add_user("u", "", 1, 0), KEYWARD_OK);
             keyward_stop();
             std::filesystem::resize_file(p, 60);
         },
         notOurs},
        {"a newer schema",
         [this](const std::string& p) {
             keyward_start();
             keyward_stop();
             ASSERT_EQ(exec(openDirect(p).get(), "PRAGMA user_version = 99"), SQLITE_OK);
         },
         "PATH: database schema 99 is newer than this program"},
        {"a symlink to a store",
         [this](const std::string& p) {
             const std::string real = (m_dir / "real.db").string();
             setenv("KEYWARD_DB", real.c_str(), 1);
             keyward_start();
             keyward_stop();
             setenv("KEYWARD_DB", p.c_str(), 1);
             std::filesystem::create_symlink(real, p);
         },
         "PATH is a symbolic link; refusing to follow it"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(m_dir / "store");
        std::filesystem::create_directories(m_dir / "store");
        c.make(m_dbPath);
        if (!std::filesystem::is_symlink(m_dbPath)) chmod(m_dbPath.c_str(), 0644);
        const std::string before = readBytes(m_dbPath);
        const mode_t mode = modeOf(m_dbPath);

        keyward_stop();
        EXPECT_EQ(add_user("x", "", 1, 0), ERR_UNAVAILABLE);
        EXPECT_EQ(login("u", ""), ERR_UNAVAILABLE);
        EXPECT_EQ(get_user_list(nullptr), ERR_UNAVAILABLE);
        keyward_stop();
        std::string message = c.message;
        if (const auto at = message.find("PATH"); at != std::string::npos)
            message.replace(at, 4, m_dbPath);
        for (const char* command : {"users", "check"}) {
            const auto r = keyward({command});
            EXPECT_EQ(r.exitCode, 1) << command;
            EXPECT_EQ(r.err, "keyward: " + message + "\n") << command;
        }
        EXPECT_EQ(readBytes(m_dbPath), before);
        EXPECT_EQ(modeOf(m_dbPath), mode);
        EXPECT_FALSE(std::filesystem::exists(m_dbPath + "-journal"));
    }
}

TEST_F(HostileFileTest, AFolderWhereTheFileShouldBe) {
    std::filesystem::create_directories(m_dbPath);
    EXPECT_EQ(add_user("x", "", 1, 0), ERR_UNAVAILABLE);
    EXPECT_EQ(keyward({"users"}).err, "keyward: not a keyward database: " + m_dbPath + "\n");
    EXPECT_TRUE(std::filesystem::is_empty(m_dbPath));
}

TEST_F(HostileFileTest, AnEmptyFileBecomesAStoreOnlyThroughAWrite) {
    std::filesystem::create_directories(m_dir / "store");
    std::ofstream(m_dbPath).close();
    EXPECT_EQ(
        keyward({"users"}).err,
        "keyward: " + m_dbPath + ": unfinished: the next start or `keyward init` sets it up\n");
    EXPECT_EQ(std::filesystem::file_size(m_dbPath), 0u);
    EXPECT_EQ(add_user("x", "", 1, 0), KEYWARD_OK);
    EXPECT_EQ(keyward({"users"}).exitCode, 0);
}

TEST_F(HostileFileTest, AFailedFirstOpenLeavesNoEmptyFileBehind) {
    // A folder where the journal must go: the new store cannot be set up.
    std::filesystem::create_directories(m_dbPath + "-journal");
    EXPECT_EQ(add_user("x", "", 1, 0), ERR_UNAVAILABLE);
    EXPECT_FALSE(std::filesystem::exists(m_dbPath));
    std::filesystem::remove(m_dbPath + "-journal");
    EXPECT_EQ(add_user("x", "", 1, 0), KEYWARD_OK);
}

TEST_F(HostileFileTest, AnImmutableStoreIsReadButNeverWritten) {
    ASSERT_EQ(add_user("alice", "", 1, 0), KEYWARD_OK);
    keyward_stop();
    if (system(("chattr +i " + m_dbPath + " 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "no immutable files on this file system";
    const std::string before = readBytes(m_dbPath);
    const auto users = keyward({"users"});
    const auto check = keyward({"check"});
    const auto audit = keyward({"audit"});
    const int added = add_user("bob", "", 1, 0);
    const int loggedIn = login("alice", "");
    keyward_stop();
    // Else the test's folder could not be removed.
    EXPECT_EQ(system(("chattr -i " + m_dbPath).c_str()), 0);

    EXPECT_EQ(users.exitCode, 0) << users.err;
    EXPECT_NE(users.out.find("alice"), std::string::npos);
    EXPECT_EQ(check.exitCode, 0) << check.err;
    EXPECT_EQ(audit.exitCode, 0) << audit.err;
    EXPECT_EQ(added, ERR_UNAVAILABLE);
    EXPECT_EQ(loggedIn, KEYWARD_OK) << "a login that cannot be audited still gets its verdict";
    EXPECT_EQ(readBytes(m_dbPath), before);
}

TEST_F(HostileFileTest, AnUnmarkedStoreOfOurSchemaIsAdopted) {
    std::filesystem::create_directories(m_dir / "store");
    makeVersion1Store(m_dbPath);
    const std::string before = readBytes(m_dbPath);

    // Reading changes nothing, not even the mark.
    const auto users = keyward({"users"});
    EXPECT_EQ(users.exitCode, 0) << users.err;
    EXPECT_NE(users.out.find("old"), std::string::npos);
    EXPECT_EQ(readBytes(m_dbPath), before);

    // The first write marks it, brings it up to date and links its trail.
    EXPECT_EQ(login("old", ""), KEYWARD_OK);
    keyward_stop();
    auto db = openDirect(m_dbPath);
    EXPECT_EQ(column(db.get(), "PRAGMA application_id"),
              std::vector<std::string>{std::to_string(0x4b575244)});
    EXPECT_EQ(column(db.get(), "PRAGMA user_version"), std::vector<std::string>{"5"});
    EXPECT_EQ(column(db.get(), "SELECT count(*) FROM audit WHERE hash IS NULL"),
              std::vector<std::string>{"0"});
    const auto check = keyward({"check"});
    EXPECT_EQ(check.exitCode, 0) << check.err;
    EXPECT_NE(exec(db.get(), "UPDATE audit SET outcome = 'x'"), SQLITE_OK)
        << "the trail is append-only again after the upgrade";
}

TEST_F(HostileFileTest, FoldersOnThePathMayBeSymlinks) {
    std::filesystem::create_directories(m_dir / "real" / "share");
    std::filesystem::create_directory_symlink(m_dir / "real", m_dir / "link");
    unsetenv("KEYWARD_DB");
    setenv("XDG_DATA_HOME", (m_dir / "link" / "share").c_str(), 1);
    EXPECT_EQ(add_user("alice", "pw", 1, 0), KEYWARD_OK);
    EXPECT_EQ(login("alice", "pw"), KEYWARD_OK);
    const auto users = keyward({"users"});
    unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(users.exitCode, 0) << users.err;
    EXPECT_NE(users.out.find("alice"), std::string::npos);
    EXPECT_TRUE(
        std::filesystem::is_regular_file(m_dir / "real" / "share" / "varnock" / "keyward.db"));
}

TEST_F(HostileFileTest, StartUpFailureIsToldOnceOnStandardError) {
    std::filesystem::create_directories(m_dir / "store");
    std::ofstream(m_dbPath) << "not sqlite at all, not even close to it; plain text here";
    const std::string errPath = (m_dir / "stderr").string();
    const int saved = dup(2);
    const int file = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(file, 2);
    keyward_start();
    const int rc1 = add_user("x", "", 1, 0);
    const int rc2 = login("x", "");
    dup2(saved, 2);
    close(saved);
    close(file);
    EXPECT_EQ(rc1, ERR_UNAVAILABLE);
    EXPECT_EQ(rc2, ERR_UNAVAILABLE);
    EXPECT_EQ(readBytes(errPath),
              "keyward: account store unavailable: not a keyward database: " + m_dbPath + "\n");
}

TEST_F(SystemLogTest, LoginsAndChangesGoToAuthprivWithoutPasswords) {
    LogSink sink((m_dir / "log").string());
    ASSERT_EQ(add_user("alice", "Secret-1", 2, 0), KEYWARD_OK);
    EXPECT_EQ(login("alice", "Wrong-2"), ERR_BAD_PASSWORD);
    EXPECT_EQ(login("Secret-3", "x"), ERR_NO_SUCH_USER);
    ASSERT_EQ(login("alice", "Secret-1"), KEYWARD_OK);
    ASSERT_EQ(change_pwd("alice", "Secret-1", "Secret-4"), KEYWARD_OK);
    ASSERT_EQ(change_user("alice", "alicia", 3, 1), KEYWARD_OK);

    const auto lines = sink.lines();
    const std::string self = "varnock[" + std::to_string(getpid()) + "]: ";
    // Who asked, as every line names them: user@host.
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    const std::string who = " (" + std::string(getpwuid(getuid())->pw_name) + "@" + host + ")";
    // <84>: LOG_AUTHPRIV (10 << 3) with LOG_WARNING; <85>: with LOG_NOTICE.
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"<85>", "user_add alice" + who + ": ok (level 2, mask 0x00000000)"},
        {"<84>", "login alice" + who + ": bad_password"},
        {"<84>", "login -" + who + ": no_such_user"},
        {"<85>", "login alice" + who + ": ok"},
        {"<85>", "password_change alice by alice" + who + ": ok"},
        {"<85>",
         "user_change alice by alice" + who + ": ok (renamed to alicia, level 3, mask 0x00000001)"},
    };
    ASSERT_EQ(lines.size(), expected.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].rfind(expected[i].first, 0), 0u) << lines[i];
        const auto at = lines[i].find(self);
        ASSERT_NE(at, std::string::npos) << lines[i];
        EXPECT_EQ(lines[i].substr(at + self.size()), expected[i].second);
        for (const char* secret : {"Secret-", "Wrong-"})
            EXPECT_EQ(lines[i].find(secret), std::string::npos) << lines[i];
    }
}
