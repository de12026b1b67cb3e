// The account policy through the C calls: lockout, locks, password rules,
// expiry and passwords changed at first use, with [policy] in a system
// file of the test's own. Time passes by moving the stored times back.
// Run on a server too (KEYWARD_TEST_ENGINE=server). Compiled with CP936 as
// the execution character set, like callers of the store.
#include <ctime>
#include <fstream>
#include <regex>

#include "support.h"

using namespace kwtest;

namespace {

class PolicyTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        m_conf = (m_dir / "system.conf").string();
        setenv("SETBANK_SYSTEM_FILE", m_conf.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (m_dir / "config").c_str(), 1);
        ASSERT_EQ(add_user("root", "rootpw", 4, 0xFFFFFFFFu), KEYWARD_OK);
        ASSERT_EQ(add_user("op", "oppw", 1, 0x1), KEYWARD_OK);
    }
    void TearDown() override {
        unsetenv("SETBANK_SYSTEM_FILE");
        unsetenv("XDG_CONFIG_HOME");
        StoreTest::TearDown();
    }

    // The store opens again under [policy] as given.
    void policy(const std::string& settings) {
        std::ofstream(m_conf) << "[policy]\n" << settings;
        keyward_stop();
    }

    // SQL on the store behind its back, on either engine.
    void sql(const std::string& statement) {
        if (m_serverDb.empty()) {
            ASSERT_EQ(execOn(m_dbPath, statement), SQLITE_OK) << statement;
        } else {
            ASSERT_EQ(onServer(m_serverDb, statement), "") << statement;
        }
    }
    long long value(const std::string& query) {
        if (!m_serverDb.empty()) return std::stoll(serverValue(m_serverDb, query));
        return std::stoll(column(openDirect(m_dbPath).get(), query).at(0));
    }
    long long of(const std::string& user, const std::string& column) {
        return value("SELECT " + column + " FROM users WHERE name = '" + user + "'");
    }
    // A lockout's end as if its time had come.
    void lockoutEnds(const std::string& user) {
        sql("UPDATE users SET locked_until = 0 WHERE name = '" + user + "'");
    }
    // The detail of the last audit row of action for target.
    std::string lastDetail(const std::string& action, const std::string& target) {
        const std::string query = "SELECT coalesce(detail, '') FROM audit WHERE action = '" +
                                  action + "' AND target = '" + target + "' ORDER BY id DESC";
        if (!m_serverDb.empty()) return serverValue(m_serverDb, query + " LIMIT 1");
        return column(openDirect(m_dbPath).get(), query).at(0);
    }
    RunResult keyward(const std::vector<std::string>& args) { return run(KEYWARD_CLI, args); }

    std::string m_conf;
};

TEST_F(PolicyTest, TheDefaultsCountNothingAndRefuseNoPassword) {
    for (int i = 0; i < 10; ++i) ASSERT_EQ(login("op", "wrong"), ERR_BAD_PASSWORD);
    EXPECT_EQ(login("op", "oppw"), KEYWARD_OK);
    EXPECT_EQ(of("op", "fail_count"), 0);
    EXPECT_EQ(add_user("blank", "", 0, 0), KEYWARD_OK);
    EXPECT_EQ(change_pwd("op", "oppw", "x"), KEYWARD_OK);
    EXPECT_EQ(clear_pwd("blank"), KEYWARD_OK);
    sql("UPDATE users SET pwd_set = 1 WHERE name = 'op'");
    EXPECT_EQ(login("op", "x"), KEYWARD_OK) << "passwords do not expire";
    EXPECT_EQ(get_pwd_days_left(nullptr), KEYWARD_NO_EXPIRY);
    const std::pair<const char*, int> settings[] = {{"deny", 0},
                                                    {"fail_interval", 900},
                                                    {"unlock_time", 600},
                                                    {"max_unlock_time", 86400},
                                                    {"lock_last_admin", 1},
                                                    {"min_length", 0},
                                                    {"min_classes", 0},
                                                    {"max_age_days", 0},
                                                    {"warn_days", 7},
                                                    {"idle_lock_minutes", 0},
                                                    {"must_change_initial", 0}};
    for (const auto& [name, expected] : settings) EXPECT_EQ(get_policy(name), expected) << name;
    EXPECT_EQ(get_policy("colour"), ERR_NO_SUCH_ITEM);
    EXPECT_EQ(get_policy(nullptr), ERR_NULL_ARGUMENT);
}

// deny=3: a fourth login after three wrong passwords within the interval
// fails even with the right password, from another process; faillock
// --reset lets it in again.
TEST_F(PolicyTest, DenyFailuresLockTheAccountForEveryProcessUntilReset) {
    policy("deny = 3\n");
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(inChild([] { return login("op", "wrong") == ERR_BAD_PASSWORD; })) << i;
    EXPECT_EQ(lastDetail("login", "op"), "locked for 600 s after 3 failed attempts");
    EXPECT_TRUE(inChild([] { return login("op", "oppw") == ERR_ACCOUNT_LOCKED; }));
    EXPECT_EQ(login("op", "oppw"), ERR_ACCOUNT_LOCKED);
    EXPECT_EQ(login("op", "wrong"), ERR_ACCOUNT_LOCKED) << "a lock says nothing of a password";
    EXPECT_EQ(of("op", "lock_count"), 1);
    const auto reset = keyward({"faillock", "--reset", "op"});
    ASSERT_EQ(reset.exitCode, 0) << reset.err;
    EXPECT_TRUE(inChild([] { return login("op", "oppw") == KEYWARD_OK; }));
}

TEST_F(PolicyTest, EachLockIsAuditedWithItsLength) {
    policy("deny = 2\nunlock_time = 60\n");
    EXPECT_EQ(login("op", "a"), ERR_BAD_PASSWORD);
    EXPECT_EQ(lastDetail("login", "op"), "");
    EXPECT_EQ(login("op", "b"), ERR_BAD_PASSWORD);
    EXPECT_EQ(lastDetail("login", "op"), "locked for 60 s after 2 failed attempts");
    const long long now = std::time(nullptr);
    EXPECT_GE(of("op", "locked_until"), now + 59);
    EXPECT_LE(of("op", "locked_until"), now + 61);
}

TEST_F(PolicyTest, OnlyFailuresWithinTheIntervalCountAndARightPasswordClearsThem) {
    policy("deny = 3\nfail_interval = 100\n");
    EXPECT_EQ(login("op", "a"), ERR_BAD_PASSWORD);
    EXPECT_EQ(login("op", "b"), ERR_BAD_PASSWORD);
    sql("UPDATE users SET fail_first = fail_first - 101 WHERE name = 'op'");
    EXPECT_EQ(login("op", "c"), ERR_BAD_PASSWORD);
    EXPECT_EQ(of("op", "fail_count"), 1) << "a new count began";
    EXPECT_EQ(login("op", "d"), ERR_BAD_PASSWORD);
    EXPECT_EQ(login("op", "oppw"), KEYWARD_OK);
    EXPECT_EQ(of("op", "fail_count"), 0);
    EXPECT_EQ(login("op", "e"), ERR_BAD_PASSWORD);
    EXPECT_EQ(login("op", "f"), ERR_BAD_PASSWORD);
    EXPECT_EQ(login("op", "oppw"), KEYWARD_OK) << "two since the last success";
}

TEST_F(PolicyTest, EachLockInARowLastsTwiceAsLongUpToTheCap) {
    policy("deny = 1\nunlock_time = 60\nmax_unlock_time = 200\n");
    const auto lockOnce = [&] {
        const long long before = std::time(nullptr);
        EXPECT_EQ(login("op", "wrong"), ERR_BAD_PASSWORD);
        const long long length = of("op", "locked_until") - before;
        lockoutEnds("op");
        return length;
    };
    for (const long long expected : {60, 120, 200, 200}) {
        const long long length = lockOnce();
        EXPECT_GE(length, expected);
        EXPECT_LE(length, expected + 1);
    }
    EXPECT_EQ(login("op", "oppw"), KEYWARD_OK);
    EXPECT_LE(lockOnce(), 61) << "a success begins the row again";
}

TEST_F(PolicyTest, TheLastLevel4UserWhoCanLogInIsNeverLockedBeyondUnlockTime) {
    policy("deny = 1\nunlock_time = 60\nmax_unlock_time = 3600\n");
    const auto lockLength = [&](const char* user) {
        const long long before = std::time(nullptr);
        EXPECT_EQ(login(user, "wrong"), ERR_BAD_PASSWORD);
        const long long length = of(user, "locked_until") - before;
        lockoutEnds(user);
        return length;
    };
    for (int round = 0; round < 5; ++round) EXPECT_LE(lockLength("root"), 61) << round;
    EXPECT_EQ(login("root", "rootpw"), KEYWARD_OK);

    // With another level-4 user who can let the others in, root's locks grow.
    ASSERT_EQ(add_user("chief", "chiefpw", 4, 0), KEYWARD_OK);
    EXPECT_LE(lockLength("root"), 61);
    EXPECT_GE(lockLength("root"), 120);
    // Locked by an administrator, chief lets nobody in: root is the last again.
    ASSERT_EQ(keyward({"usermod", "chief", "--lock"}).exitCode, 0);
    EXPECT_LE(lockLength("root"), 61);
    const auto refused = keyward({"usermod", "root", "--lock"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.err,
              "keyward: root is the last level-4 user who can log in and cannot be "
              "locked\n");

    policy("deny = 1\nlock_last_admin = no\n");
    for (int i = 0; i < 5; ++i) EXPECT_EQ(login("root", "wrong"), ERR_BAD_PASSWORD);
    EXPECT_EQ(lastDetail("login", "root"),
              "not locked: the last level-4 user who can log in (5 failed attempts)");
    EXPECT_EQ(login("root", "rootpw"), KEYWARD_OK);
}

TEST_F(PolicyTest, WrongOldPasswordsOfAChangeCountTowardALockout) {
    policy("deny = 2\n");
    EXPECT_EQ(change_pwd("op", "a", "new1"), ERR_BAD_PASSWORD);
    EXPECT_EQ(change_pwd("op", "b", "new1"), ERR_BAD_PASSWORD);
    EXPECT_EQ(change_pwd("op", "oppw", "new1"), ERR_ACCOUNT_LOCKED);
    EXPECT_EQ(login("op", "oppw"), ERR_ACCOUNT_LOCKED);
    lockoutEnds("op");
    EXPECT_EQ(change_pwd("op", "oppw", "new1"), KEYWARD_OK);
    EXPECT_EQ(login("op", "new1"), KEYWARD_OK);
}

TEST_F(PolicyTest, NewPasswordsKeepTheRulesAndAClearedOneStaysEmpty) {
    policy("min_length = 6\nmin_classes = 3\n");
    struct Case {
        const char* password;
        int expected;
    };
    const Case cases[] = {
        {"Abc123", KEYWARD_OK},          {"abc123", ERR_PASSWORD_POLICY},
        {"Ab1", ERR_PASSWORD_POLICY},    {"Ab1!xx", KEYWARD_OK},
        {"密码Ab1", KEYWARD_OK},  // a Chinese character counts two, as the rest
        {"密码12", ERR_PASSWORD_POLICY}, {"", ERR_PASSWORD_POLICY},
        {"ABC 12", KEYWARD_OK},  // a blank is of the rest
    };
    int n = 0;
    std::string current = "oppw";
    for (const Case& c : cases) {
        const std::string name = "u" + std::to_string(n++);
        EXPECT_EQ(add_user(name.c_str(), c.password, 1, 0), c.expected) << c.password;
        EXPECT_EQ(change_pwd("op", current.c_str(), c.password), c.expected) << c.password;
        if (c.expected == KEYWARD_OK) current = c.password;
    }
    EXPECT_EQ(lastDetail("user_add", "u1"),
              "level 1, mask 0x00000000; refused: characters of 2 "
              "class(es), fewer than 3");
    // The rules come before the old password: nothing is hashed or counted.
    EXPECT_EQ(change_pwd("op", "wrong", "abc"), ERR_PASSWORD_POLICY);
    EXPECT_EQ(login("op", current.c_str()), KEYWARD_OK);
    EXPECT_EQ(clear_pwd("op"), KEYWARD_OK);
    EXPECT_EQ(login("op", ""), KEYWARD_OK);
}

TEST_F(PolicyTest, AnExpiredPasswordNoLongerLogsInUntilAnotherIsSet) {
    policy("max_age_days = 30\n");
    EXPECT_EQ(login("op", "oppw"), KEYWARD_OK);
    sql("UPDATE users SET pwd_set = pwd_set - 100 WHERE name = 'op'");
    EXPECT_EQ(get_pwd_days_left(nullptr), 29) << "whole days";
    sql("UPDATE users SET pwd_set = pwd_set - 26 * 86400 WHERE name = 'op'");
    EXPECT_EQ(get_pwd_days_left("op"), 3);
    sql("UPDATE users SET pwd_set = pwd_set - 5 * 86400 WHERE name = 'op'");
    EXPECT_EQ(login("op", "oppw"), ERR_PASSWORD_EXPIRED);
    EXPECT_EQ(login("op", "wrong"), ERR_BAD_PASSWORD);
    EXPECT_EQ(get_pwd_days_left("op"), 0);
    EXPECT_EQ(get_pwd_days_left("nobody"), ERR_NO_SUCH_USER);
    const auto set = run(KEYWARD_CLI, {"passwd", "op", "--password-stdin"}, "fresh\n");
    ASSERT_EQ(set.exitCode, 0) << set.err;
    EXPECT_EQ(login("op", "fresh"), KEYWARD_OK);
}

TEST_F(PolicyTest, APasswordSetBySomeoneElseIsChangedAtTheNextLoginBeforeAnythingElse) {
    policy("must_change_initial = yes\n");
    EXPECT_EQ(login("op", "oppw"), ERR_MUST_CHANGE_PWD);
    EXPECT_STREQ(get_cur_user(), "op") << "logged in, to change it";
    EXPECT_EQ(get_user_group(nullptr), 1);
    const std::pair<const char*, int> refused[] = {
        {"add_user", add_user("x", "pw", 0, 0)},
        {"change_user", change_user("root", "root", 4, 0)},
        {"del_user", del_user("root")},
        {"clear_pwd", clear_pwd("root")},
        {"add_limit", add_limit("drive", "t")},
        {"del_limit", del_limit(0)},
        {"another's password", change_pwd("root", "rootpw", "x")},
    };
    for (const auto& [call, result] : refused) EXPECT_EQ(result, ERR_MUST_CHANGE_PWD) << call;
    EXPECT_EQ(lastDetail("user_delete", "root"), "refused: the password must be changed first");
    EXPECT_EQ(userNames(), (std::vector<std::string>{"root", "op"}));
    EXPECT_EQ(change_pwd("op", "oppw", "mine"), KEYWARD_OK);
    EXPECT_EQ(add_user("x", "pw", 0, 0), KEYWARD_OK) << "changed: the session is whole";
    EXPECT_EQ(login("op", "mine"), KEYWARD_OK);

    // Cleared or set by someone else: changed again at the next login.
    ASSERT_EQ(clear_pwd("op"), KEYWARD_OK);
    EXPECT_EQ(login("op", ""), ERR_MUST_CHANGE_PWD);
    ASSERT_EQ(run(KEYWARD_CLI, {"passwd", "op", "--password-stdin"}, "given\n").exitCode, 0);
    EXPECT_EQ(login("op", "given"), ERR_MUST_CHANGE_PWD);
    policy("");
    EXPECT_EQ(login("op", "given"), KEYWARD_OK) << "the policy asks no more";
}

TEST_F(PolicyTest, ALockedAccountKeepsItsLevelItemsAndPassword) {
    ASSERT_EQ(keyward({"usermod", "op", "--lock"}).exitCode, 0);
    EXPECT_EQ(login("op", "oppw"), ERR_ACCOUNT_LOCKED);
    EXPECT_EQ(change_pwd("op", "oppw", "x"), ERR_ACCOUNT_LOCKED);
    EXPECT_EQ(get_user_group("op"), 1);
    EXPECT_EQ(get_user_limit("op"), 0x1u);
    EXPECT_EQ(value("SELECT CASE WHEN substr(hash, 1, 1) = '!' THEN 1 ELSE 0 END FROM users WHERE "
                    "name = 'op'"),
              1);
    // A password an administrator sets does not unlock it.
    ASSERT_EQ(run(KEYWARD_CLI, {"passwd", "op", "--password-stdin"}, "set\n").exitCode, 0);
    EXPECT_EQ(login("op", "set"), ERR_ACCOUNT_LOCKED);
    ASSERT_EQ(keyward({"usermod", "op", "--unlock"}).exitCode, 0);
    EXPECT_EQ(login("op", "set"), KEYWARD_OK);
    // A hash behind the marker without the lock never matches, as before.
    sql("UPDATE users SET hash = '!' || hash WHERE name = 'op'");
    EXPECT_EQ(login("op", "set"), ERR_BAD_PASSWORD);
}

TEST_F(PolicyTest, FaillockShowsTheCountAndTheLockoutAndResetClearsThem) {
    policy("deny = 3\n");
    const auto secondLine = [&](const std::vector<std::string>& args) {
        const auto r = keyward(args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out.rfind("name  failures  first failure", 0), 0u) << r.out;
        return r.out.substr(r.out.find('\n') + 1);
    };
    const std::string time = R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)";
    EXPECT_EQ(login("op", "a"), ERR_BAD_PASSWORD);
    EXPECT_EQ(login("op", "b"), ERR_BAD_PASSWORD);
    EXPECT_TRUE(std::regex_match(secondLine({"faillock", "op"}),
                                 std::regex("op +2 +" + time + " +- +0 +no\n")));
    EXPECT_EQ(login("op", "c"), ERR_BAD_PASSWORD);
    EXPECT_TRUE(std::regex_match(secondLine({"faillock", "op"}),
                                 std::regex("op +0 +- +" + time + " +1 +no\n")));
    EXPECT_TRUE(std::regex_match(secondLine({"faillock", "--reset", "op"}),
                                 std::regex("op +0 +- +- +0 +no\n")));
    EXPECT_EQ(lastDetail("failures_reset", "op"), "0 failed attempt(s) cleared, lockout lifted");
    EXPECT_EQ(login("op", "oppw"), KEYWARD_OK);
    const auto missing = keyward({"faillock", "nobody"});
    EXPECT_EQ(missing.err, "keyward: no such user: nobody\n");
    // The policy in force, beside the store it applies to.
    const auto check = keyward({"check"});
    EXPECT_EQ(check.exitCode, 0) << check.err;
    EXPECT_NE(check.out.find("\npolicy: deny=3\nok: "), std::string::npos) << check.out;
}

}  // namespace
