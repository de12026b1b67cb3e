// The admin command, run as a program with its streams captured. Compiled
// with CP936 as the execution character set, like callers of the store;
// terminal text is written as u8 literals.
#include <sys/stat.h>

#include "support.h"

using namespace kwtest;

namespace {

std::string utf8(const char8_t* text) {
    return reinterpret_cast<const char*>(text);
}

class CliTest : public StoreTest {
protected:
    RunResult keyward(const std::vector<std::string>& args, const std::string& input = "") {
        return run(KEYWARD_CLI, args, input);
    }

    // A failure: exit code, nothing on stdout, exactly one line on stderr.
    void expectFailure(const RunResult& r, int code, const std::string& message) {
        EXPECT_EQ(r.exitCode, code) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "keyward: " + message + "\n");
    }

    void init(const std::string& password = "rootpw") {
        const auto r = keyward({"init", "--password-stdin"}, password + "\n");
        ASSERT_EQ(r.exitCode, 0) << r.err;
    }
};

}  // namespace

TEST_F(CliTest, InitCreatesTheFirstAdministrator) {
    const auto r = keyward({"init", "--admin", "chief", "--password-stdin"}, "s3cret\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "initialised " + m_dbPath + " with administrator chief\n");
    EXPECT_EQ(r.err, "");

    EXPECT_EQ(login("chief", "s3cret"), KEYWARD_OK);
    EXPECT_EQ(get_user_group(nullptr), 4);
    EXPECT_EQ(get_user_limit(nullptr), 0xFFFFFFFFu);
    EXPECT_NE(chk_user_limit("sys_limit", nullptr), 0);
    EXPECT_EQ(limitNames(), std::vector<std::string>{"sys_limit"});
    char title[32];
    ASSERT_EQ(get_limit_info("sys_limit", title), KEYWARD_OK);
    EXPECT_STREQ(title, "系统权限");
    // The program's registration at start finds it there.
    EXPECT_EQ(add_limit(SYS_LIMIT_NAME, SYS_LIMIT_TITLE), ERR_ITEM_EXISTS);
}

TEST_F(CliTest, InitDefaultsToRootAndRefusesOnceUsersExist) {
    init();
    EXPECT_EQ(userNames(), std::vector<std::string>{"root"});
    expectFailure(keyward({"init", "--admin", "other", "--password-stdin"}, "x\n"), 1,
                  "users exist already");
    EXPECT_EQ(userNames(), std::vector<std::string>{"root"});
}

TEST_F(CliTest, InitTakesChineseNamesAndChecksTheirLength) {
    const auto r = keyward({"init", "--admin", utf8(u8"管理员"), "--password-stdin"}, "\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(login("管理员", ""), KEYWARD_OK) << "the empty line is the empty password";

    const std::string sixteen = utf8(u8"一二三四五六七八九十一二三四五六");
    keyward_stop();
    std::filesystem::remove(m_dbPath);
    expectFailure(keyward({"init", "--admin", sixteen, "--password-stdin"}, "pw\n"), 1,
                  "administrator name too long: 32 bytes in CP936, at most 31");
    expectFailure(keyward({"init", "--admin", utf8(u8"😀"), "--password-stdin"}, "pw\n"), 1,
                  "administrator name is not valid text (CP936, no control characters)");
    EXPECT_FALSE(std::filesystem::exists(m_dbPath))
        << "a refused init must not create the database";
}

TEST_F(CliTest, PasswordInputProblems) {
    expectFailure(keyward({"init"}, "pw\n"), 2,
                  "standard input is not a terminal; use --password-stdin");
    expectFailure(keyward({"init", "--password-stdin"}, ""), 1, "no password on standard input");
    EXPECT_EQ(userNames(), std::vector<std::string>{});
}

TEST_F(CliTest, PasswdSetsANewPassword) {
    init("old-pw");
    const auto r = keyward({"passwd", "root", "--password-stdin"}, "new-pw\r\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "password set for root\n");
    EXPECT_EQ(login("root", "old-pw"), ERR_BAD_PASSWORD);
    EXPECT_EQ(login("root", "new-pw"), KEYWARD_OK);

    expectFailure(keyward({"passwd", "nobody", "--password-stdin"}, "x\n"), 1,
                  "no such user: nobody");
    expectFailure(keyward({"passwd", "--password-stdin"}, "x\n"), 2, "expected 1 argument(s)");

    auto db = openDirect(m_dbPath);
    EXPECT_EQ(
        column(db.get(),
               "SELECT action || ' ' || target || ' ' || outcome FROM audit "
               "WHERE action = 'password_set'"),
        (std::vector<std::string>{"password_set root ok", "password_set nobody no_such_user"}));
}

TEST_F(CliTest, MissingDatabaseIsReportedNotCreated) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"users"},
                                                 {"items"},
                                                 {"audit"},
                                                 {"check"},
                                                 {"backup", (m_dir / "b.db").string()}})
        expectFailure(keyward(args), 1, "no database at " + m_dbPath);
    expectFailure(keyward({"passwd", "root", "--password-stdin"}, "x\n"), 1,
                  "no database at " + m_dbPath);
    EXPECT_FALSE(std::filesystem::exists(m_dbPath));
}

TEST_F(CliTest, UsersAndItemsTables) {
    init();
    ASSERT_GE(add_limit("edit", "编辑"), 0);
    ASSERT_EQ(add_user("张三", "", 2, 0b10), KEYWARD_OK);
    auto users = keyward({"users"});
    EXPECT_EQ(users.exitCode, 0);
    EXPECT_EQ(users.out, utf8(u8"#  name  level    mask        items\n"
                              u8"1  root  Level_4  0xffffffff  11\n"
                              u8"2  张三  Level_2  0x00000002  01\n"));
    auto items = keyward({"items"});
    EXPECT_EQ(items.exitCode, 0);
    EXPECT_EQ(items.out, utf8(u8"bit  name       title\n"
                              u8"0    sys_limit  系统权限\n"
                              u8"1    edit       编辑\n"));
    EXPECT_EQ(users.err + items.err, "");
}

TEST_F(CliTest, AuditListsAndFiltersByTime) {
    init();
    EXPECT_EQ(login("root", "bad"), ERR_BAD_PASSWORD);
    const auto all = keyward({"audit"});
    ASSERT_EQ(all.exitCode, 0);
    EXPECT_NE(all.out.find("init"), std::string::npos);
    EXPECT_NE(all.out.find("bad_password"), std::string::npos);
    EXPECT_EQ(all.out.find("rootpw"), std::string::npos);

    const auto later = keyward({"audit", "--since", "2999-01-01"});
    EXPECT_EQ(later.exitCode, 0);
    EXPECT_EQ(later.out, "time  actor  action  target  outcome  detail\n");
    const auto earlier = keyward({"audit", "--since", "2000-01-01 00:00"});
    EXPECT_EQ(earlier.out, all.out);
    expectFailure(keyward({"audit", "--since", "yesterday"}), 2,
                  "bad time yesterday: use YYYY-MM-DD[THH:MM[:SS]] (UTC)");
}

TEST_F(CliTest, CheckFindsBrokenInvariants) {
    init();
    const auto good = keyward({"check"});
    EXPECT_EQ(good.exitCode, 0) << good.err;
    EXPECT_EQ(good.out, "ok: 1 users, 1 items\n");

    auto db = openDirect(m_dbPath);
    ASSERT_EQ(exec(db.get(),
                   "INSERT INTO users(name, level, mask, hash) "
                   "VALUES ('" +
                       std::string(40, 'n') + "', 1, 0, 'x')"),
              SQLITE_OK);
    auto bad = keyward({"check"});
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_EQ(bad.out, "");
    EXPECT_EQ(bad.err, "keyward: user name longer than 31 bytes: " + std::string(40, 'n') + "\n");

    ASSERT_EQ(exec(db.get(), "DROP TRIGGER audit_no_delete"), SQLITE_OK);
    bad = keyward({"check"});
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_NE(bad.err.find("keyward: the audit trail is no longer append-only\n"),
              std::string::npos);
    EXPECT_EQ(bad.out, "");
}

// Someone who can write the file drops the triggers and edits the trail;
// check names the first row that no longer fits.
TEST_F(CliTest, CheckFindsATamperedAuditTrail) {
    struct Case {
        const char* what;
        const char* sql;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"a row in the middle deleted", "DELETE FROM audit WHERE id = 3",
         "audit trail broken at row 4: row(s) 3..3 are missing"},
        {"the first row deleted", "DELETE FROM audit WHERE id = 1",
         "audit trail broken at row 2: row(s) 1..1 are missing"},
        {"the last rows deleted", "DELETE FROM audit WHERE id >= 4",
         "audit trail broken at row(s) 4..5 at the end are missing"},
        {"an outcome changed", "UPDATE audit SET outcome = 'ok' WHERE id = 2",
         "audit trail broken at row 2: does not match its link (it or the row before it was "
         "changed or removed)"},
        {"rows renumbered after a deletion",
         "DELETE FROM audit WHERE id = 2; UPDATE audit SET id = id - 1 WHERE id > 2; "
         "UPDATE sqlite_sequence SET seq = seq - 1 WHERE name = 'audit'",
         "audit trail broken at row 2: does not match its link (it or the row before it was "
         "changed or removed)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        keyward_stop();
        std::filesystem::remove_all(m_dir / "store");
        init();
        ASSERT_EQ(login("root", "bad"), ERR_BAD_PASSWORD);
        ASSERT_EQ(login("root", "rootpw"), KEYWARD_OK);
        ASSERT_EQ(add_user("bob", "", 1, 0), KEYWARD_OK);
        ASSERT_EQ(del_user("bob"), KEYWARD_OK);
        keyward_stop();
        ASSERT_EQ(keyward({"check"}).exitCode, 0);
        auto db = openDirect(m_dbPath);
        ASSERT_EQ(exec(db.get(), "DROP TRIGGER audit_no_update; DROP TRIGGER audit_no_delete;"),
                  SQLITE_OK);
        ASSERT_EQ(exec(db.get(), c.sql), SQLITE_OK);
        const auto r = keyward({"check"});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "keyward: the audit trail is no longer append-only\nkeyward: " +
                             c.message + "\n");
    }
}

TEST_F(CliTest, InitFitsTheHashCostToTheMachine) {
    unsetenv("KEYWARD_HASH_COST");
    init();
    auto db = openDirect(m_dbPath);
    const auto cost = column(db.get(), "SELECT value FROM settings WHERE key = 'hash_cost'");
    ASSERT_EQ(cost.size(), 1u);
    EXPECT_GE(std::stoi(cost[0]), 5);
    EXPECT_LE(std::stoi(cost[0]), 11);
    // Every later password is hashed at the stored cost, as the first one.
    ASSERT_EQ(add_user("bob", "pw", 1, 0), KEYWARD_OK);
    const auto hashes = column(db.get(), "SELECT substr(hash, 1, 6) FROM users ORDER BY id");
    ASSERT_EQ(hashes.size(), 2u);
    EXPECT_EQ(hashes[0], hashes[1]);
    EXPECT_EQ(login("bob", "pw"), KEYWARD_OK);
}

TEST_F(CliTest, BackupMakesAUsablePrivateCopy) {
    init("pw-in-backup");
    const std::string copy = (m_dir / "copy.db").string();
    const auto r = keyward({"backup", copy});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "backed up " + m_dbPath + " to " + copy + "\n");
    struct stat st {};
    ASSERT_EQ(stat(copy.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    expectFailure(keyward({"backup", copy}), 1, copy + " exists");

    keyward_stop();
    setenv("KEYWARD_DB", copy.c_str(), 1);
    EXPECT_EQ(login("root", "pw-in-backup"), KEYWARD_OK);
    const auto check = keyward({"check"});
    EXPECT_EQ(check.exitCode, 0) << check.err;
}

TEST_F(CliTest, LockedDatabaseIsReportedAfterTheTimeout) {
    init();
    auto db = openDirect(m_dbPath);
    ASSERT_EQ(exec(db.get(), "BEGIN EXCLUSIVE"), SQLITE_OK);
    expectFailure(keyward({"users"}), 1, "database is locked");
    ASSERT_EQ(exec(db.get(), "ROLLBACK"), SQLITE_OK);
    EXPECT_EQ(keyward({"users"}).exitCode, 0);
}

TEST_F(CliTest, UsageAndHelp) {
    expectFailure(keyward({}), 2, "no command given; try 'keyward --help'");
    expectFailure(keyward({"frobnicate"}), 2, "unknown command frobnicate; try 'keyward --help'");
    expectFailure(keyward({"users", "--verbose"}), 2, "unknown option --verbose");
    expectFailure(keyward({"init", "--admin"}), 2, "option --admin needs a value");
    expectFailure(keyward({"check", "extra"}), 2, "unexpected argument extra");

    const auto overview = keyward({"--help"});
    EXPECT_EQ(overview.exitCode, 0);
    EXPECT_EQ(overview.out.rfind("usage: keyward COMMAND", 0), 0u);
    for (const char* command : {"init", "users", "items", "passwd", "audit", "check", "backup"}) {
        const auto help = keyward({command, "--help"});
        EXPECT_EQ(help.exitCode, 0) << command;
        EXPECT_EQ(help.out.rfind(std::string("usage: keyward ") + command, 0), 0u) << command;
        EXPECT_EQ(help.err, "") << command;
        EXPECT_NE(overview.out.find(std::string("  ") + command + " "), std::string::npos)
            << command;
    }
    EXPECT_FALSE(std::filesystem::exists(m_dbPath)) << "help and usage errors touch nothing";
}
