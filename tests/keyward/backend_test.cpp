// The store's rules on both engines: the same calls against an SQLite file
// and against a PostgreSQL server, the latter when with_server.sh started
// one. Compiled with CP936 as the execution character set, like callers.
#include <libpq-fe.h>
#include <time.h>

#include <cstdlib>
#include <functional>

#include "store.h"
#include "support.h"

using namespace kwtest;

namespace {

enum class Engine { File, Server };

// Stops or starts the test's server, as its owner.
int serverControl(const char* action) {
    const std::string owner = geteuid() == 0 ? "runuser -u postgres -- " : "";
    const std::string command = owner + std::getenv("KEYWARD_TEST_PG_BINDIR") + "/pg_ctl -D " +
                                std::getenv("KEYWARD_TEST_SERVER_DATA") + " -w -s -m fast -l " +
                                std::getenv("KEYWARD_TEST_SERVER_DATA") + "/../server.log " +
                                action;
    return std::system(command.c_str());
}

class BackendTest : public StoreTest, public ::testing::WithParamInterface<Engine> {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        if (server() && m_serverDb.empty()) {
            if (serverHost().empty()) GTEST_SKIP() << "no server; run under with_server.sh";
            moveToServer();
        }
        m_location = m_serverDb.empty() ? m_dbPath : serverUri(m_serverDb);
    }
    bool server() const { return GetParam() == Engine::Server; }
    RunResult keyward(const std::vector<std::string>& args) { return run(KEYWARD_CLI, args); }

    std::string m_location;
};

TEST_P(BackendTest, CallsKeepTheirRules) {
    runSteps({
        {"add", [] { return add_user("bob", "pw", 2, 0x5); }, KEYWARD_OK},
        {"add taken", [] { return add_user("bob", "x", 1, 0); }, ERR_USER_EXISTS},
        {"add CP936", [] { return add_user("张三", "密码", 1, 0); }, KEYWARD_OK},
        {"too long", [] { return add_user("一二三四五六七八九十一二三四五六", "", 1, 0); },
         ERR_TOO_LONG},
        {"bad level", [] { return add_user("x", "", 5, 0); }, ERR_BAD_LEVEL},
        {"wrong password", [] { return login("bob", "no"); }, ERR_BAD_PASSWORD},
        {"unknown", [] { return login("nobody", "pw"); }, ERR_NO_SUCH_USER},
        {"login CP936", [] { return login("张三", "密码"); }, KEYWARD_OK},
        {"current user", [] { return std::string(get_cur_user()) == "张三" ? 0 : 1; }, 0},
        {"change password", [] { return change_pwd("bob", "pw", "pw2"); }, KEYWARD_OK},
        {"old password", [] { return login("bob", "pw"); }, ERR_BAD_PASSWORD},
        {"new password", [] { return login("bob", "pw2"); }, KEYWARD_OK},
        {"rename", [] { return change_user("bob", "robert", 3, 0x7); }, KEYWARD_OK},
        {"rename taken", [] { return change_user("robert", "张三", 3, 0); }, ERR_USER_EXISTS},
        {"level", [] { return get_user_group("robert"); }, 3},
        {"clear password", [] { return clear_pwd("robert"); }, KEYWARD_OK},
        {"empty password", [] { return login("robert", ""); }, KEYWARD_OK},
        {"delete missing", [] { return del_user("nobody"); }, ERR_NO_SUCH_USER},
        {"delete", [] { return del_user("张三"); }, KEYWARD_OK},
        {"first item", [] { return add_limit("a", "项目"); }, 0},
        {"item exists", [] { return add_limit("a", ""); }, ERR_ITEM_EXISTS},
    });
    EXPECT_EQ(userNames(), (std::vector<std::string>{"robert"}));
    // The names come back as the very bytes given, the list's own
    // separators among them.
    ASSERT_EQ(add_user("李四", "", 0, 0), KEYWARD_OK);
    EXPECT_EQ(userNames().back(), "李四");
    ASSERT_EQ(add_user("x;9:y;", "", 3, 0x80000001), KEYWARD_OK);
    EXPECT_EQ(userNames().back(), "x;9:y;");
    EXPECT_EQ(get_user_limit("x;9:y;"), 0x80000001u);
    char title[KEYWARD_MAX_TEXT + 1];
    ASSERT_EQ(get_limit_info("a", title), KEYWARD_OK);
    EXPECT_STREQ(title, "项目");
}

TEST_P(BackendTest, ItemsStopAt32AndDeletingOneRealignsEveryMask) {
    for (int i = 0; i < KEYWARD_MAX_LIMITS; ++i)
        ASSERT_EQ(add_limit(("i" + std::to_string(i)).c_str(), "t"), i);
    EXPECT_EQ(add_limit("over", "t"), ERR_ITEMS_FULL);
    struct Case {
        int pos;
        std::uint32_t before, after;
    };
    const Case cases[] = {
        {1, 0b1110, 0b110},           {1, 0b1, 0b1},         {1, 0xFFFFFFFF, 0xFFFFFFFF},
        {30, 0xC0000000, 0x40000000}, {31, 0x80000001, 0x1}, {0, 0x3, 0x1},
    };
    // Each case from 32 items: the deleted one is replaced at the end.
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const std::string user = "u" + std::to_string(i);
        ASSERT_EQ(add_user(user.c_str(), "", 0, cases[i].before), KEYWARD_OK);
        ASSERT_EQ(del_limit(cases[i].pos), KEYWARD_OK);
        EXPECT_EQ(get_user_limit(user.c_str()), cases[i].after) << i;
        ASSERT_EQ(del_user(user.c_str()), KEYWARD_OK);
        ASSERT_EQ(add_limit(("n" + std::to_string(i)).c_str(), "t"), KEYWARD_MAX_LIMITS - 1);
    }
    EXPECT_EQ(del_limit(KEYWARD_MAX_LIMITS), ERR_NO_SUCH_ITEM);
}

TEST_P(BackendTest, TheFillWritesWhatTheCountReportedWhileAnotherStationAdds) {
    ASSERT_EQ(add_user("a", "", 0, 0), KEYWARD_OK);
    const int n = get_user_list(nullptr);
    ASSERT_EQ(n, 1);
    ASSERT_TRUE(inChild([] { return add_user("b", "", 0, 0) == KEYWARD_OK; }));
    std::vector<UserRecord> recs(2);
    EXPECT_EQ(get_user_list(recs.data()), 1);
    EXPECT_STREQ(recs[1].name, "");
    EXPECT_EQ(get_user_list(nullptr), 2);
}

// Eight stations change the store at once; the audit trail stays one chain
// and nothing is lost.
TEST_P(BackendTest, EightStationsWriteAtOnce) {
    constexpr int kStations = 8;
    constexpr int kUsers = 6;
    ASSERT_EQ(add_user("op", "pw", 1, 0), KEYWARD_OK);
    keyward_stop();
    std::vector<pid_t> stations;
    for (int s = 0; s < kStations; ++s) {
        const pid_t pid = fork();
        if (pid == 0) {
            int unexpected = 0;
            for (int i = 0; i < kUsers; ++i) {
                const std::string name = "s" + std::to_string(s) + "_" + std::to_string(i);
                unexpected += add_user(name.c_str(), "pw", 1, 0) != KEYWARD_OK;
                unexpected += login("op", i % 3 == 2 ? "no" : "pw") !=
                              (i % 3 == 2 ? ERR_BAD_PASSWORD : KEYWARD_OK);
                unexpected += change_user(name.c_str(), name.c_str(), 2, 1) != KEYWARD_OK;
            }
            _exit(unexpected);
        }
        stations.push_back(pid);
    }
    EXPECT_EQ(failuresOf(stations), 0);
    EXPECT_EQ(userNames().size(), 1u + kStations * kUsers);
    const auto check = keyward({"check"});
    EXPECT_EQ(check.exitCode, 0) << check.err;
}

// A site moves its embedded store: every user, item and audit link arrives,
// and the copy backs up and checks on its own engine.
TEST_P(BackendTest, AStoreMovesWholeAndItsCopyBacksUp) {
    const std::string source = (m_dir / "source.db").string();
    setenv("KEYWARD_DB", source.c_str(), 1);
    for (const char* item : {"a", "b", "c", "d", "e"}) ASSERT_GE(add_limit(item, item), 0);
    ASSERT_EQ(add_user("张三", "pw", 4, 0x1F), KEYWARD_OK);
    ASSERT_EQ(login("张三", "no"), ERR_BAD_PASSWORD);
    keyward_stop();
    ASSERT_EQ(execOn(source,
                     "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                     "WHERE i < 10000) INSERT INTO users(name, level, mask, hash) "
                     "SELECT 'user' || i, i % 5, i % 32, 'x' FROM n"),
              SQLITE_OK);
    const auto before = keyward({"users", "--format=json"});
    const auto moved = keyward({"migrate", "--to", m_location});
    ASSERT_EQ(moved.exitCode, 0) << moved.err;
    EXPECT_EQ(keyward({"migrate", "--to", m_location}).exitCode, 1);  // no longer empty

    setenv("KEYWARD_DB", m_location.c_str(), 1);
    EXPECT_EQ(keyward({"users", "--format=json"}).out, before.out);
    for (const std::string& store : {m_location, (m_dir / "backup.db").string()}) {
        setenv("KEYWARD_DB", store.c_str(), 1);
        const auto check = keyward({"check"});
        EXPECT_EQ(check.out.substr(check.out.find('\n') + 1), "ok: 10001 users, 5 items\n")
            << store << check.err;
        EXPECT_EQ(check.out.rfind("store: ", 0), 0u) << check.out;
        if (store == m_location) {
            ASSERT_EQ(keyward({"backup", m_dir / "backup.db"}).exitCode, 0);
        }
    }
    setenv("KEYWARD_DB", m_location.c_str(), 1);
    EXPECT_EQ(login("张三", "pw"), KEYWARD_OK);
}

// The account service's second line as its sessions run it: a store that
// enforces the rules for the logged-in user, each caller named as the
// kernel names it. The same refusals on either engine (a server's own
// functions decide there), each audited with its station.
TEST_P(BackendTest, TheServicesRulesHoldAndNameTheStationOnEitherEngine) {
    ASSERT_EQ(add_user("root", "pw", 4, 0xFFFFFFFF), KEYWARD_OK);
    ASSERT_EQ(add_limit(SYS_LIMIT_NAME, "t"), 0);
    ASSERT_EQ(add_limit("edit", "t"), 1);
    ASSERT_EQ(add_user("op2", "pw", 2, 0x1), KEYWARD_OK);
    ASSERT_EQ(add_user("op1", "pw", 1, 0), KEYWARD_OK);
    keyward_stop();
    const auto stationStore = [&](const char* osUser, const char* host) {
        keyward::StoreOptions options;
        options.location = m_location;
        options.enforceRules = true;
        options.caller = keyward::Caller{1000, osUser, 4242, host, true};
        return std::make_unique<keyward::Store>(options);
    };
    const auto a = stationStore("alice", "station-a");
    using keyward::toCode;
    struct Case {
        const char* who;  // logged in first; nullptr: nobody
        const char* what;
        std::function<int(keyward::Store&)> call;
        int expected;
    };
    const Case cases[] = {
        {nullptr, "nobody adds", [](auto& s) { return toCode(s.addUser("x", "pw", 0, 0)); },
         ERR_DENIED},
        {"op2", "a level-4 user changed",
         [](auto& s) { return toCode(s.changeUser("root", "root", 4, 0xFFFFFFFF)); }, ERR_DENIED},
        {"op2", "a level-3 user added", [](auto& s) { return toCode(s.addUser("x", "pw", 3, 0)); },
         ERR_DENIED},
        {"op2", "an item not held granted",
         [](auto& s) { return toCode(s.addUser("x", "pw", 1, 0x2)); }, ERR_DENIED},
        {"op2", "a level-1 user added",
         [](auto& s) { return toCode(s.addUser("x", "pw", 1, 0x1)); }, KEYWARD_OK},
        {"op2", "a level-4 password cleared",
         [](auto& s) { return toCode(s.clearPassword("root")); }, ERR_DENIED},
        {"op1", "an item added without sys_limit", [](auto& s) { return s.addLimit("n1", "t"); },
         ERR_DENIED},
        {"op2", "an item added holding sys_limit", [](auto& s) { return s.addLimit("n2", "t"); },
         2},
        {"op2", "sys_limit deleted", [](auto& s) { return toCode(s.deleteLimit(0)); }, ERR_DENIED},
        {"op1", "a user above deleted", [](auto& s) { return toCode(s.deleteUser("op2")); },
         ERR_DENIED},
        {"op2", "a user below deleted", [](auto& s) { return toCode(s.deleteUser("x")); },
         KEYWARD_OK},
        {"root", "a user at the own level changed",
         [](auto& s) { return toCode(s.changeUser("root", "root", 3, 0)); }, ERR_DENIED},
        // Last: acting as administrator lasts.
        {"admin", "the last level-4 user demoted by an administrator",
         [](auto& s) { return toCode(s.changeUser("root", "root", 3, 0)); }, ERR_LAST_ADMIN},
    };
    for (const Case& c : cases) {
        a->stop();
        if (c.who != nullptr && std::string(c.who) == "admin") {
            ASSERT_EQ(a->actAsAdministrator(), keyward::Status::Ok);
        } else if (c.who != nullptr) {
            ASSERT_EQ(a->login(c.who, "pw"), keyward::Status::Ok) << c.what;
        }
        EXPECT_EQ(c.call(*a), c.expected) << c.what;
    }
    EXPECT_EQ(get_user_group("root"), 4);
    EXPECT_EQ(limitNames(), (std::vector<std::string>{SYS_LIMIT_NAME, "edit", "n2"}));

    // Another station's change names that station.
    const auto b = stationStore("bob", "station-b");
    ASSERT_EQ(b->login("root", "pw"), keyward::Status::Ok);
    ASSERT_EQ(b->addUser("y", "pw", 0, 0), keyward::Status::Ok);
    const auto audit = keyward({"audit", "--format=tsv"});
    const std::string address = server() ? "local" : "";
    for (const std::string& row :
         {"\top2\tuser_change\troot\tdenied\tlevel 4, mask 0xffffffff; refused: level 4 not below "
          "own level 2\talice\t4242\tstation-a\t" +
              address + "\n",
          "\top2\tuser_add\tx\tok\tlevel 1, mask 0x00000001\talice\t4242\tstation-a\t" + address +
              "\n",
          "\troot\tuser_add\ty\tok\tlevel 0, mask 0x00000000\tbob\t4242\tstation-b\t" + address +
              "\n"})
        EXPECT_NE(audit.out.find(row), std::string::npos) << row << audit.out;
}

std::string engineName(const ::testing::TestParamInfo<Engine>& info) {
    return info.param == Engine::File ? "File" : "Server";
}

INSTANTIATE_TEST_SUITE_P(Engines, BackendTest, ::testing::Values(Engine::File, Engine::Server),
                         engineName);

class ServerTest : public BackendTest {};

TEST_P(ServerTest, TheStationsRoleMayNotChangeOrRemoveTheAuditTrail) {
    ASSERT_EQ(add_user("op", "pw", 1, 0), KEYWARD_OK);
    ASSERT_EQ(onServer(m_serverDb,
                       "DO $$ BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = "
                       "'station') THEN CREATE ROLE station LOGIN; END IF; END $$; "
                       "GRANT keyward_station TO station"),
              "");
    keyward_stop();
    setenv("KEYWARD_DB", serverUri(m_serverDb, "station").c_str(), 1);
    EXPECT_EQ(login("op", "pw"), KEYWARD_OK);
    EXPECT_EQ(add_user("new", "pw", 1, 0), KEYWARD_OK);
    for (const char* sql : {"DELETE FROM audit", "UPDATE audit SET actor = 'x'", "TRUNCATE audit",
                            "INSERT INTO settings VALUES ('hash_cost', '1')"})
        EXPECT_NE(onServer(m_serverDb, sql, "station").find("permission denied"), std::string::npos)
            << sql;
    // The owner is held back by the triggers.
    EXPECT_NE(onServer(m_serverDb, "DELETE FROM audit").find("append-only"), std::string::npos);
    setenv("KEYWARD_DB", m_location.c_str(), 1);
    const auto check = keyward({"check"});
    EXPECT_EQ(check.exitCode, 0) << check.err;
}

TEST_P(ServerTest, AStoppedServerFailsCallsQuicklyAndTheStoreReconnects) {
    ASSERT_EQ(add_user("op", "pw", 1, 0), KEYWARD_OK);
    ASSERT_EQ(login("op", "pw"), KEYWARD_OK);
    ASSERT_EQ(serverControl("stop"), 0);
    // <chrono> does not compile with CP936 as the execution character set.
    timespec start{}, end{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    const int rc = login("op", "pw");
    clock_gettime(CLOCK_MONOTONIC, &end);
    const int list = get_user_list(nullptr);
    ASSERT_EQ(serverControl("start"), 0);
    EXPECT_EQ(rc, ERR_UNAVAILABLE);
    EXPECT_EQ(list, ERR_UNAVAILABLE);
    EXPECT_LT(end.tv_sec - start.tv_sec, 5);
    EXPECT_EQ(login("op", "pw"), KEYWARD_OK);
    EXPECT_EQ(get_user_list(nullptr), 1);
}

// A writer outside the store (no writers' lock) changes a row the store's
// transaction then updates: the update waits for it and lands on top of it,
// audited once.
TEST_P(ServerTest, AChangeWaitsForAWriterOutsideTheStoreAndLandsOnTop) {
    ASSERT_EQ(add_user("op", "pw", 1, 0), KEYWARD_OK);
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t outsider = fork();
    if (outsider == 0) {
        PGconn* c = PQconnectdb(serverUri(m_serverDb).c_str());
        PQclear(PQexec(c, "BEGIN"));
        PQclear(PQexec(c, "UPDATE users SET mask = 7 WHERE name = 'op'"));
        if (write(ready[1], "x", 1) != 1) _exit(1);
        usleep(500 * 1000);  // the store's update now waits for this row
        PGresult* r = PQexec(c, "COMMIT");
        _exit(PQresultStatus(r) == PGRES_COMMAND_OK ? 0 : 1);
    }
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    EXPECT_EQ(change_user("op", "op", 2, 3), KEYWARD_OK);
    int status = 0;
    ASSERT_EQ(waitpid(outsider, &status, 0), outsider);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(get_user_limit("op"), 3u);
    EXPECT_EQ(onServer(m_serverDb,
                       "DO $$ BEGIN IF (SELECT count(*) FROM audit WHERE action = 'user_change') "
                       "<> 1 THEN RAISE EXCEPTION 'not audited once'; END IF; END $$"),
              "");
}

// A server that takes no writes (a standby reached, a database set
// read-only): logins still get their verdict, and changes fail.
TEST_P(ServerTest, AServerThatTakesNoWritesStillAnswersLogins) {
    ASSERT_EQ(add_user("op", "pw", 1, 0), KEYWARD_OK);
    keyward_stop();
    ASSERT_EQ(onServer(m_serverDb,
                       "ALTER DATABASE " + m_serverDb + " SET default_transaction_read_only = on"),
              "");
    runSteps({
        {"right password", [] { return login("op", "pw"); }, KEYWARD_OK},
        {"wrong password", [] { return login("op", "no"); }, ERR_BAD_PASSWORD},
        {"unknown", [] { return login("nobody", "pw"); }, ERR_NO_SUCH_USER},
        {"add", [] { return add_user("new", "pw", 1, 0); }, ERR_UNAVAILABLE},
        {"delete", [] { return del_user("op"); }, ERR_UNAVAILABLE},
    });
    EXPECT_EQ(userNames(), (std::vector<std::string>{"op"}));
}

INSTANTIATE_TEST_SUITE_P(Engines, ServerTest, ::testing::Values(Engine::Server), engineName);

}  // namespace
