// The admin command, run as a program with its streams captured. Compiled
// with CP936 as the execution character set, like callers of the store;
// terminal text is written as u8 literals.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

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

    // Runs a command that must succeed, returning its standard output.
    std::string ok(const std::vector<std::string>& args, const std::string& input = "") {
        const auto r = keyward(args, input);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err, "");
        return r.out;
    }
};

// The audit trail's rows as "actor action target outcome", times left out.
std::vector<std::string> auditRows(const std::string& dbPath, const std::string& where = "1") {
    auto db = openDirect(dbPath);
    return column(db.get(),
                  "SELECT ifnull(actor, '-') || ' ' || action || ' ' || ifnull(target, '-') || "
                  "' ' || outcome FROM audit WHERE " +
                      where + " ORDER BY id");
}

std::string osActor() {
    return std::string("os:") + getpwuid(getuid())->pw_name;
}

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
    EXPECT_EQ(later.out, "time  actor  action  target  outcome  detail  asked by\n");
    const auto earlier = keyward({"audit", "--since", "2000-01-01 00:00"});
    EXPECT_EQ(earlier.out, all.out);
    expectFailure(keyward({"audit", "--since", "yesterday"}), 2,
                  "bad time yesterday: use YYYY-MM-DD[THH:MM[:SS]] (UTC)");
    // The right shape, but no such moment: refused, never read as a text bound.
    for (const char* impossible :
         {"2026-13-01", "2026-00-10", "2026-02-30", "2026-02-29", "2026-04-31", "2026-01-00",
          "2026-01-01T24:00", "2026-01-01 23:60", "2026-01-01T00:00:60Z"})
        expectFailure(keyward({"audit", "--since", impossible}), 2,
                      std::string("bad time ") + impossible + ": no such date or time");
    for (const char* possible : {"2024-02-29", "2000-02-29T23:59:59Z", "2026-12-31 00:00"})
        EXPECT_EQ(keyward({"audit", "--since", possible}).exitCode, 0) << possible;
}

TEST_F(CliTest, CheckFindsBrokenInvariants) {
    init();
    const auto good = keyward({"check"});
    EXPECT_EQ(good.exitCode, 0) << good.err;
    EXPECT_EQ(good.out, "store: " + m_dbPath + ", chosen by KEYWARD_DB\nok: 1 users, 1 items\n");
    EXPECT_EQ(
        good.err.rfind("keyward: warning: a personal store protects nothing from its owner", 0), 0u)
        << good.err;

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

// A change on a store the user may read but not write fails naming why, and
// changes nothing. As root the command runs as nobody, whom the modes bind.
TEST_F(CliTest, AChangeOnAStoreItCannotWriteNamesTheReason) {
    init();
    const bool root = geteuid() == 0;
    const std::string folder = (m_dir / "store").string();
    chmod(m_dir.c_str(), 0755);
    // A configuration folder of the test's, not root's, which nobody may not read.
    setenv("XDG_CONFIG_HOME", (m_dir / "config").c_str(), 1);
    const std::vector<std::string> asReader = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                               "--clear-groups", KEYWARD_CLI};
    const struct {
        mode_t file, folder;
        std::vector<std::string> args;
        std::string why;
    } cases[] = {
        {root ? 0644u : 0444u,
         0777,
         {"itemadd", "edit", "x"},
         "cannot write " + m_dbPath + ": Permission denied"},
        {0666,
         root ? 0755u : 0555u,
         {"userdel", "root"},
         "cannot create the journal of " + m_dbPath + " in " + folder + ": Permission denied"},
    };
    for (const auto& c : cases) {
        chmod(m_dbPath.c_str(), c.file);
        chmod((m_dbPath + ".key").c_str(), c.file);  // the audit trail's key beside it
        chmod(folder.c_str(), c.folder);
        std::vector<std::string> args = c.args;
        if (root) args.insert(args.begin(), asReader.begin() + 1, asReader.end());
        expectFailure(run(root ? asReader[0] : KEYWARD_CLI, args), 1, c.why);
    }
    unsetenv("XDG_CONFIG_HOME");
    chmod(folder.c_str(), 0700);
    chmod(m_dbPath.c_str(), 0600);
    chmod((m_dbPath + ".key").c_str(), 0600);
    EXPECT_EQ(userNames(), std::vector<std::string>{"root"});
    EXPECT_EQ(limitNames(), std::vector<std::string>{"sys_limit"});

    // A file system mounted read-only, in a mount namespace of its own.
    const auto r = run("/usr/bin/unshare",
                       {"-rm", "sh", "-c",
                        "mount --bind \"$0\" \"$0\" && mount -o remount,bind,ro \"$0\" || exit 77; "
                        "exec \"$1\" userdel root",
                        folder, KEYWARD_CLI});
    if (r.exitCode == 77) GTEST_SKIP() << "no mount namespace here: " << r.err;
    expectFailure(r, 1, "cannot write " + m_dbPath + ": Read-only file system");
    EXPECT_EQ(userNames(), std::vector<std::string>{"root"});
}

TEST_F(CliTest, UsageAndHelp) {
    expectFailure(keyward({}), 2, "no command given; try 'keyward --help'");
    expectFailure(keyward({"frobnicate"}), 2, "unknown command frobnicate; try 'keyward --help'");
    expectFailure(keyward({"users", "--verbose"}), 2, "unknown option --verbose");
    expectFailure(keyward({"init", "--admin"}), 2, "option --admin needs a value");
    expectFailure(keyward({"check", "extra"}), 2, "unexpected argument extra");

    const auto overview = keyward({"--help"});
    EXPECT_EQ(overview.exitCode, 0);
    EXPECT_EQ(overview.out.rfind("usage: keyward [--login NAME] COMMAND", 0), 0u);
    for (const char* command : {"init", "users", "items", "passwd", "audit", "check", "backup"}) {
        const auto help = keyward({command, "--help"});
        EXPECT_EQ(help.exitCode, 0) << command;
        EXPECT_EQ(help.out.rfind(std::string("usage: keyward ") + command, 0), 0u) << command;
        EXPECT_EQ(help.err, "") << command;
        EXPECT_NE(overview.out.find(std::string("  ") + command + " "), std::string::npos)
            << command;
    }
    // help COMMAND (or --help COMMAND) is COMMAND --help; help alone the overview.
    for (const char* way : {"help", "--help", "-h"}) {
        EXPECT_EQ(ok({way}), overview.out) << way;
        EXPECT_EQ(ok({way, "users"}), ok({"users", "--help"})) << way;
        expectFailure(keyward({way, "nosuch"}), 2, "unknown command nosuch; try 'keyward --help'");
        expectFailure(keyward({way, "users", "items"}), 2, "unexpected argument items");
    }
    EXPECT_FALSE(std::filesystem::exists(m_dbPath)) << "help and usage errors touch nothing";
}

TEST_F(CliTest, OptionSyntaxOfEveryForm) {
    init();
    // Each way of writing the same options adds the same kind of user.
    const std::vector<std::vector<std::string>> forms = {
        {"useradd", "u1", "--level", "2", "--items", "sys_limit", "--password-stdin"},
        {"useradd", "--level=2", "--items=sys_limit", "u2", "--password-stdin"},
        {"useradd", "-l", "2", "-i", "sys_limit", "--password-stdin", "u3"},
        {"useradd", "-l2", "-isys_limit", "--password-stdin", "--", "u4"},
        {"useradd", "--password-stdin", "-l2", "--items", "sys_limit", "--", "-u5"},
        {"useradd", "--lev=2", "--it=sys_limit", "--password", "u6"},
    };
    for (const auto& args : forms) EXPECT_EQ(keyward(args, "pw\n").exitCode, 0) << args[1];
    EXPECT_EQ(ok({"users", "--format=tsv"}),
              "name\tlevel\tmask\titems\n"
              "root\t4\t4294967295\t1\n"
              "u1\t2\t1\t1\nu2\t2\t1\t1\nu3\t2\t1\t1\nu4\t2\t1\t1\n-u5\t2\t1\t1\nu6\t2\t1\t1\n");
    EXPECT_EQ(ok({"userdel", "--", "-u5"}), "deleted user -u5\n");

    const std::string version = "keyward " KEYWARD_VERSION "\n";
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--version"},
                                                 {"-V"},
                                                 {"users", "--version"},
                                                 {"useradd", "-V"},
                                                 {"backup", "--version"}})
        EXPECT_EQ(ok(args), version) << args[0];
}

TEST_F(CliTest, UsageErrorsNameTheProblem) {
    init();
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"--bogus"}, "unknown option --bogus"},
        {{"users", "-x"}, "unknown option -x"},
        {{"users", "--format"}, "option --format needs a value"},
        {{"users", "--format=xml"}, "unknown format xml; use table, tsv or json"},
        {{"useradd", "op", "-l"}, "option -l needs a value"},
        {{"init", "--password-stdin=yes"}, "option --password-stdin takes no value"},
        {{"init", "-a", "x", "--admin=y"}, "option --admin given twice"},
        {{"useradd", "op", "--password-stdin"}, "option --level is required"},
        {{"useradd", "op", "--level", "5"}, "bad level 5; use 0 to 4"},
        {{"useradd", "op", "--level", "Level_2"}, "bad level Level_2; use 0 to 4"},
        {{"usermod", "root"}, "nothing to change; give --rename, --level or --items"},
        {{"itemadd", "edit"}, "expected 2 argument(s)"},
        {{"userdel", "a", "b"}, "unexpected argument b"},
        {{"items", "--", "--format=json"}, "unexpected argument --format=json"},
        {{"migrate"}, "option --to or --upgrade is required"},
        {{"migrate", "--upgrade", "--to", "x.db"}, "--upgrade and --to are two different tasks"},
        {{"migrate", "--to", "x.db", "--store", "y.db"}, "--store goes with --upgrade"},
    };
    for (const auto& c : cases) expectFailure(keyward(c.args, "pw\n"), 2, c.message);
    EXPECT_EQ(userNames(), std::vector<std::string>{"root"});
}

// A store of the schema before is brought up to date by --upgrade, at its
// configured place or at --store, once, its trail still verifying.
TEST_F(CliTest, MigrateUpgradeBringsAStoreUpToDate) {
    init();
    const std::string other = (m_dir / "other.db").string();
    ASSERT_EQ(keyward({"migrate", "--to", other}).exitCode, 0);
    for (const auto& [args, shown] :
         {std::pair{std::vector<std::string>{"migrate", "--upgrade"}, m_dbPath},
          std::pair{std::vector<std::string>{"migrate", "--upgrade", "--store", other}, other}}) {
        ASSERT_EQ(execOn(shown, "ALTER TABLE audit DROP COLUMN address; PRAGMA user_version = 4"),
                  SQLITE_OK);
        EXPECT_EQ(ok(args), "upgraded " + shown + " from schema 4 to 5\n");
        EXPECT_EQ(ok(args), shown + " is up to date (schema 5)\n");
    }
    EXPECT_EQ(keyward({"check"}).exitCode, 0);
    expectFailure(keyward({"migrate", "--upgrade", "--store", (m_dir / "none.db").string()}), 1,
                  "no database at " + (m_dir / "none.db").string());
}

TEST_F(CliTest, FormatsForScriptsByteForByte) {
    init();
    ASSERT_GE(add_limit("edit", "编辑"), 0);
    ASSERT_EQ(add_user("张 三", "", 2, 0b10), 0);
    ASSERT_EQ(add_user("a\"b\\c", "", 0, 0), 0);
    // Texts the store would refuse, as a hand-edited database may hold them.
    ASSERT_EQ(execOn(m_dbPath,
                     "INSERT INTO users(name, level, mask, hash) VALUES "
                     "('tab' || char(9) || 'nl' || char(10) || 'bs\\', 1, 4, 'x'), "
                     "(CAST(X'41FF42' AS TEXT), 1, 0, 'x')"),
              SQLITE_OK);

    EXPECT_EQ(ok({"users", "--format=tsv"}), utf8(u8"name\tlevel\tmask\titems\n"
                                                  u8"root\t4\t4294967295\t11\n"
                                                  u8"张 三\t2\t2\t01\n"
                                                  u8"a\"b\\\\c\t0\t0\t00\n"
                                                  u8"tab\\tnl\\nbs\\\\\t1\t4\t00\n"
                                                  u8"A\xff"
                                                  u8"B\t1\t0\t00\n"));
    EXPECT_EQ(ok({"users", "--format", "json"}),
              utf8(u8"[\n"
                   u8"  {\"name\":\"root\",\"level\":4,\"mask\":4294967295,\"items\":\"11\"},\n"
                   u8"  {\"name\":\"张 三\",\"level\":2,\"mask\":2,\"items\":\"01\"},\n"
                   u8"  {\"name\":\"a\\\"b\\\\c\",\"level\":0,\"mask\":0,\"items\":\"00\"},\n"
                   u8"  {\"name\":\"tab\\u0009nl\\u000abs\\\\\",\"level\":1,\"mask\":4,"
                   u8"\"items\":\"00\"},\n"
                   u8"  {\"name\":\"A\\ufffdB\",\"level\":1,\"mask\":0,\"items\":\"00\"}\n"
                   u8"]\n"));
    EXPECT_EQ(ok({"items", "--format=tsv"}),
              utf8(u8"bit\tname\ttitle\n0\tsys_limit\t系统权限\n1\tedit\t编辑\n"));
    EXPECT_EQ(ok({"items", "--format=json"}),
              utf8(u8"[\n  {\"bit\":0,\"name\":\"sys_limit\",\"title\":\"系统权限\"},\n"
                   u8"  {\"bit\":1,\"name\":\"edit\",\"title\":\"编辑\"}\n]\n"));
    EXPECT_EQ(ok({"items", "--format=table"}),
              utf8(u8"bit  name       title\n0    sys_limit  系统权限\n1    edit       编辑\n"));

    // Audit: an absent actor or detail is an empty field in TSV and null in
    // JSON; times vary, so the rest of each line is compared.
    const std::string tsv = ok({"audit", "--format=tsv"});
    // Each row names who asked: the operating-system user, process and host.
    const std::string asked = "\t" + osActor().substr(3) + "\t";
    EXPECT_EQ(tsv.substr(0, tsv.find('\n') + 1),
              "time\tactor\taction\ttarget\toutcome\tdetail\tos_user\tpid\thost\taddress\n");
    EXPECT_NE(tsv.find(osActor() + "\tinit\troot\tok\tlevel 4, mask 0xffffffff" + asked),
              std::string::npos)
        << tsv;
    EXPECT_NE(tsv.find(utf8(u8"\t\titem_add\tedit\tok\ttitle 编辑") + asked), std::string::npos)
        << tsv;
    const std::string json = ok({"audit", "--format=json"});
    EXPECT_NE(
        json.find(",\"actor\":null,\"action\":\"user_add\",\"target\":\"a\\\"b\\\\c\","
                  "\"outcome\":\"ok\",\"detail\":\"level 0, mask 0x00000000\",\"os_user\":\"" +
                  osActor().substr(3) + "\",\"pid\":" + std::to_string(getpid())),
        std::string::npos)
        << json;
    EXPECT_EQ(ok({"audit", "--since=2999-01-01", "--format=json"}), "[]\n");
    EXPECT_EQ(ok({"audit", "--since=2999-01-01", "--format=tsv"}),
              "time\tactor\taction\ttarget\toutcome\tdetail\tos_user\tpid\thost\taddress\n");
}

// Bytes a terminal would act on: C0 controls but the tab and newline that
// make up a listing, DEL, and C1 controls in UTF-8 (C2 80 to C2 9F).
bool drivesATerminal(const std::string& out) {
    for (std::size_t i = 0; i < out.size(); ++i) {
        const auto b = static_cast<unsigned char>(out[i]);
        if ((b < 0x20 && b != '\t' && b != '\n') || b == 0x7f) return true;
        if (b == 0xc2 && i + 1 < out.size() && static_cast<unsigned char>(out[i + 1]) < 0xa0)
            return true;
    }
    return false;
}

// Texts a hand-edited store may hold reach the admin's terminal escaped, in
// every form of every listing and in check's report.
TEST_F(CliTest, ControlCharactersInStoredTextsAreShownEscaped) {
    init();
    // ESC [31m, DEL and CSI (U+009B) in a name, a title and an audit row.
    const std::string hostile = "'x' || char(27) || '[31m' || char(127) || char(155) || 'y'";
    ASSERT_EQ(execOn(m_dbPath, "INSERT INTO users(name, level, mask, hash) VALUES (" + hostile +
                                   ", 1, 0, 'x'); INSERT INTO limits(name, title) VALUES ('t', " +
                                   hostile +
                                   "); INSERT INTO audit(at, action, target, outcome, pid) "
                                   "VALUES ('2026-01-01T00:00:00.000Z', 'login', " +
                                   hostile + ", 'ok', 1)"),
              SQLITE_OK);
    struct Case {
        std::vector<std::string> args;
        std::string escaped;
    };
    const std::string people = "x\\x1b[31m\\x7f\\u009by";
    const std::string json = "x\\u001b[31m\\u007f\\u009by";
    const Case cases[] = {
        {{"users"}, people},
        {{"users", "--format=tsv"}, people},
        {{"users", "--format=json"}, json},
        {{"items"}, people},
        {{"items", "--format=tsv"}, people},
        {{"items", "--format=json"}, json},
        {{"audit"}, people},
        {{"audit", "--format=tsv"}, people},
        {{"audit", "--format=json"}, json},
    };
    for (const Case& c : cases) {
        const auto r = keyward(c.args);
        EXPECT_EQ(r.exitCode, 0) << c.args[0] << r.err;
        EXPECT_FALSE(drivesATerminal(r.out)) << c.args.back();
        EXPECT_NE(r.out.find(c.escaped), std::string::npos) << c.args.back() << "\n" << r.out;
    }
    const auto check = keyward({"check"});
    EXPECT_EQ(check.exitCode, 1);
    EXPECT_FALSE(drivesATerminal(check.err));
    EXPECT_NE(check.err.find("keyward: user name not valid text: " + people), std::string::npos)
        << check.err;
}

TEST_F(CliTest, UseraddAsAdministratorsScriptIt) {
    init();
    EXPECT_EQ(ok({"useradd", "op1", "--level", "2", "--items", "sys_limit", "--password-stdin"},
                 "op1-pw\n"),
              "added user op1\n");
    EXPECT_EQ(ok({"users", "--format=json"}),
              "[\n"
              "  {\"name\":\"root\",\"level\":4,\"mask\":4294967295,\"items\":\"1\"},\n"
              "  {\"name\":\"op1\",\"level\":2,\"mask\":1,\"items\":\"1\"}\n"
              "]\n");
    EXPECT_EQ(login("op1", "op1-pw"), 0);
    EXPECT_NE(chk_user_limit("sys_limit", nullptr), 0);

    ASSERT_GE(add_limit("edit", "编辑"), 0);
    ASSERT_GE(add_limit("view", "查看"), 0);
    EXPECT_EQ(ok({"useradd", utf8(u8"张三"), "-l0", "-i", "view,edit", "--password-stdin"}, "\n"),
              utf8(u8"added user 张三\n"));
    EXPECT_EQ(get_user_limit("张三"), 0b110u);
    EXPECT_EQ(get_user_group("张三"), 0);

    expectFailure(keyward({"useradd", "op1", "-l1", "--password-stdin"}, "x\n"), 1,
                  "user exists: op1");
    expectFailure(keyward({"useradd", "op2", "-l1", "-i", "edit,nope", "--password-stdin"}, "x\n"),
                  1, "no such permission item: nope");
    expectFailure(keyward({"useradd", "op2", "-l1", "-i", "edit,", "--password-stdin"}, "x\n"), 1,
                  "item name is empty");
    expectFailure(keyward({"useradd", "op2", "-l1", "--password-stdin"}, ""), 1,
                  "no password on standard input");
    EXPECT_EQ(userNames(), (std::vector<std::string>{"root", "op1", "张三"}));
    EXPECT_EQ(auditRows(m_dbPath, "action = 'user_add'"),
              (std::vector<std::string>{osActor() + " user_add op1 ok",
                                        osActor() + utf8(u8" user_add 张三 ok")}));
}

TEST_F(CliTest, UsermodChangesOnlyWhatIsGiven) {
    init();
    ASSERT_GE(add_limit("edit", "编辑"), 0);
    ASSERT_EQ(add_user("op", "op-pw", 2, 0b10), 0);
    const struct {
        std::vector<std::string> options;
        std::string name;
        int level;
        std::uint32_t mask;
    } steps[] = {
        {{"--level", "3"}, "op", 3, 0b10},
        {{"--items", "sys_limit,edit"}, "op", 3, 0b11},
        {{"--items="}, "op", 3, 0},
        {{"--rename", "op2"}, "op2", 3, 0},
        {{"--rename=op3", "-l1", "-iedit"}, "op3", 1, 0b10},
    };
    std::string name = "op";
    for (const auto& step : steps) {
        std::vector<std::string> args{"usermod", name};
        args.insert(args.end(), step.options.begin(), step.options.end());
        EXPECT_EQ(ok(args), "changed user " + name + "\n");
        name = step.name;
        EXPECT_EQ(userNames(), (std::vector<std::string>{"root", name}));
        EXPECT_EQ(get_user_group(name.c_str()), step.level) << name;
        EXPECT_EQ(get_user_limit(name.c_str()), step.mask) << name;
    }
    EXPECT_EQ(login("op3", "op-pw"), 0) << "the password stays";

    expectFailure(keyward({"usermod", "ghost", "-l1"}), 1, "no such user: ghost");
    expectFailure(keyward({"usermod", "op3", "--rename", "root"}), 1, "user exists: root");
    expectFailure(keyward({"usermod", "op3", "-i", "nope"}), 1, "no such permission item: nope");
    EXPECT_EQ(get_user_limit("op3"), 0b10u);
}

TEST_F(CliTest, TheLastLevelFourUserStays) {
    init();
    ASSERT_EQ(add_user("chief2", "", 4, 1), 0);
    ASSERT_EQ(add_user("op", "", 2, 0), 0);
    EXPECT_EQ(ok({"userdel", "op"}), "deleted user op\n");
    EXPECT_EQ(ok({"usermod", "chief2", "-l3"}), "changed user chief2\n");
    expectFailure(keyward({"usermod", "root", "--level", "3"}), 1,
                  "root is the last level-4 user and cannot be demoted");
    expectFailure(keyward({"userdel", "root"}), 1,
                  "root is the last level-4 user and cannot be deleted");
    // Renaming it or changing its items keeps it level 4, which is allowed.
    EXPECT_EQ(ok({"usermod", "root", "--rename", "boss", "--items="}), "changed user root\n");
    EXPECT_EQ(get_user_group("boss"), 4);
    EXPECT_EQ(ok({"usermod", "chief2", "-l4"}), "changed user chief2\n");
    EXPECT_EQ(ok({"userdel", "boss"}), "deleted user boss\n");
    expectFailure(keyward({"userdel", "boss"}), 1, "no such user: boss");
    EXPECT_EQ(userNames(), std::vector<std::string>{"chief2"});
    EXPECT_EQ(auditRows(m_dbPath, "outcome = 'last_administrator'"),
              (std::vector<std::string>{osActor() + " user_change root last_administrator",
                                        osActor() + " user_delete root last_administrator"}));
}

TEST_F(CliTest, ItemsAreAppendedAndOnlyTheLastDeleted) {
    init();
    EXPECT_EQ(ok({"itemadd", "edit", utf8(u8"编辑")}), "added item edit at bit 1\n");
    EXPECT_EQ(ok({"itemadd", "view", ""}), "added item view at bit 2\n");
    ASSERT_EQ(add_user("op", "", 2, 0b110), 0);
    expectFailure(keyward({"itemadd", "edit", "again"}), 1, "permission item exists: edit");
    expectFailure(keyward({"itemadd", "x", std::string(32, 't')}), 1,
                  "item title too long: 32 bytes in CP936, at most 31");
    expectFailure(keyward({"itemdel", "edit"}), 1,
                  "only the last item can be deleted; edit is bit 1 of 3");
    expectFailure(keyward({"itemdel", "nope"}), 1, "no such permission item: nope");
    expectFailure(keyward({"itemdel", "sys_limit"}), 1, "sys_limit cannot be deleted");

    EXPECT_EQ(ok({"itemdel", "view"}), "deleted item view (bit 2)\n");
    EXPECT_EQ(get_user_limit("op"), 0b10u) << "the deleted item's bit is dropped";
    EXPECT_EQ(get_user_limit("root"), 0xFFFFFFFFu);
    EXPECT_EQ(ok({"itemdel", "edit"}), "deleted item edit (bit 1)\n");
    expectFailure(keyward({"itemdel", "sys_limit"}), 1, "sys_limit cannot be deleted");
    EXPECT_EQ(limitNames(), std::vector<std::string>{"sys_limit"});
    EXPECT_EQ(auditRows(m_dbPath, "action LIKE 'item_%' AND outcome = 'ok'"),
              (std::vector<std::string>{
                  osActor() + " item_add edit ok", osActor() + " item_add view ok",
                  osActor() + " item_delete view ok", osActor() + " item_delete edit ok"}));
}
