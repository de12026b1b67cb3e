// What a server store holds against a station's role, on the throwaway
// server with_server.sh starts: no table in reach, the rules and the keyed
// trail in the server's own functions, `keyward check` on the catalog, the
// upgrade of older stores, and a credential others may read.
#include <sys/stat.h>

#include <fstream>
#include <map>

#include "server_schema.h"
#include "support.h"

using namespace kwtest;

namespace {

constexpr const char* kTables[] = {"keyward_schema", "users",    "limits",   "audit",
                                   "audit_issued",   "settings", "audit_key"};

class ServerStoreTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        if (serverHost().empty()) GTEST_SKIP() << "no server; run under with_server.sh";
        if (m_serverDb.empty()) moveToServer();
        ASSERT_EQ(onServer(m_serverDb,
                           "DO $$ BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = "
                           "'station') THEN CREATE ROLE station LOGIN; END IF; END $$"),
                  "");
    }

    RunResult keyward(const std::vector<std::string>& args, const std::string& input = "") {
        return run(KEYWARD_CLI, args, input);
    }

    // A new database of its own on the server, the one before dropped.
    void freshStore() {
        keyward_stop();
        if (!m_serverDb.empty())
            onServer("postgres", "DROP DATABASE " + m_serverDb + " WITH (FORCE)");
        moveToServer();
    }

    std::string owner() const { return serverUri(m_serverDb); }
    std::string station() const { return serverUri(m_serverDb, "station"); }

    // A store made by its owner, a user op (level 1) added, the station's
    // role granted keyward_station.
    void initialise() {
        const auto init = keyward({"init", "--store", owner(), "--password-stdin"}, "rootpw\n");
        ASSERT_EQ(init.exitCode, 0) << init.err;
        ASSERT_EQ(add_user("op", "pw", 1, 0), KEYWARD_OK);
        keyward_stop();
        ASSERT_EQ(onServer(m_serverDb, "GRANT keyward_station TO station"), "");
    }

    // `keyward check` on the store as role's location.
    RunResult check(const std::string& location) {
        setenv("KEYWARD_DB", location.c_str(), 1);
        const auto r = keyward({"check"});
        setenv("KEYWARD_DB", owner().c_str(), 1);
        return r;
    }
};

bool refused(const std::string& error) {
    return error.find("permission denied") != std::string::npos;
}

TEST_F(ServerStoreTest, AStationsRoleReachesNoTableAndOneHashAtATime) {
    initialise();
    const std::map<std::string, std::string> column = {
        {"keyward_schema", "version"}, {"users", "level"},       {"limits", "title"},
        {"audit", "outcome"},          {"audit_issued", "last"}, {"settings", "value"},
        {"audit_key", "key"}};
    std::vector<std::string> statements = {
        "SELECT hash FROM users WHERE name = 'root'", "SELECT nextval('users_id_seq')",
        "SELECT setval('limits_id_seq', 1)", "SELECT keyward_key()",
        "SELECT keyward_link('', NULL, NULL)"};
    for (const char* t : kTables) {
        const std::string c = column.at(t);
        for (const std::string& sql :
             {"SELECT " + c + " FROM " + t, "INSERT INTO " + std::string(t) + " DEFAULT VALUES",
              "UPDATE " + std::string(t) + " SET " + c + " = " + c, "DELETE FROM " + std::string(t),
              "TRUNCATE " + std::string(t)})
            statements.push_back(sql);
    }
    for (const auto& sql : statements)
        EXPECT_TRUE(refused(onServer(m_serverDb, sql, "station"))) << sql;

    // What the calls need, through the functions: one user's hash at a time.
    EXPECT_EQ(onServer(m_serverDb,
                       "DO $$ BEGIN IF (SELECT count(*) FROM keyward_credentials('op')) <> 1 "
                       "OR keyward_users(NULL) <> '4:root;4;4294967295;2:op;1;0;' THEN "
                       "RAISE EXCEPTION 'not answered'; END IF; END $$",
                       "station"),
              "");
    setenv("KEYWARD_DB", station().c_str(), 1);
    EXPECT_EQ(login("op", "pw"), KEYWARD_OK);
    EXPECT_EQ(add_user("new", "pw", 1, 0), KEYWARD_OK);
    EXPECT_EQ(userNames(), (std::vector<std::string>{"root", "op", "new"}));
    // A copy holds every hash: only the owner makes one.
    const auto backup = keyward({"backup", (m_dir / "copy.db").string()});
    EXPECT_EQ(backup.exitCode, 1);
    EXPECT_NE(backup.err.find("copied by its owner"), std::string::npos) << backup.err;
}

// A station calling the functions itself is held to the rules it claims to
// act under: a level-2 session may not change a level-4 user, and the
// refusal is audited with the address the server saw.
TEST_F(ServerStoreTest, TheFunctionsRefuseALevelTwoSessionChangingALevelFourUser) {
    initialise();
    ASSERT_EQ(add_user("op2", "pw", 2, 0), KEYWARD_OK);
    keyward_stop();
    const std::string call =
        "ROW((SELECT id FROM keyward_account_by_name('op2')), 'op2', NULL, true, 'mallory', 7, "
        "'st9', 'user_change', 'root', '', NULL)::keyward_call";
    const std::string outcome =
        "(SELECT outcome FROM keyward_change_user(" + call + ", 'root', 'root', 2, 0))";
    EXPECT_EQ(onServer(m_serverDb,
                       "DO $$ BEGIN IF " + outcome +
                           " <> 'denied' THEN RAISE EXCEPTION 'not refused'; END IF; END $$",
                       "station"),
              "");
    const auto audit = keyward({"audit", "--format=tsv"});
    EXPECT_NE(audit.out.find("\top2\tuser_change\troot\tdenied\trefused: level 4 not below own "
                             "level 2\tmallory\t7\tst9\tlocal\n"),
              std::string::npos)
        << audit.out;
    EXPECT_EQ(get_user_group("root"), 4);
}

// A right on the store's tables given back by hand, or a function of the
// stations weakened, fails the check at the station and at the owner; taken
// back, the check passes again.
TEST_F(ServerStoreTest, CheckFailsWhenARightIsGivenBackByHand) {
    initialise();
    struct Case {
        const char* change;
        const char* undo;
        const char* named;
    };
    const Case cases[] = {
        {"GRANT SELECT ON users TO keyward_station", "REVOKE SELECT ON users FROM keyward_station",
         "keyward_station may SELECT on table users"},
        {"GRANT SELECT (hash) ON users TO keyward_station",
         "REVOKE SELECT (hash) ON users FROM keyward_station",
         "keyward_station may SELECT on columns of table users"},
        {"GRANT pg_read_all_data TO keyward_station",
         "REVOKE pg_read_all_data FROM keyward_station",
         "keyward_station may SELECT on table audit"},
        {"GRANT INSERT ON audit TO station", "REVOKE INSERT ON audit FROM station",
         "station holds INSERT on audit"},
        {"GRANT UPDATE (level) ON users TO station", "REVOKE UPDATE (level) ON users FROM station",
         "station holds UPDATE on column users.level"},
        {"GRANT DELETE ON limits TO PUBLIC", "REVOKE DELETE ON limits FROM PUBLIC",
         "PUBLIC holds DELETE on limits"},
        {"GRANT USAGE ON SEQUENCE users_id_seq TO keyward_station",
         "REVOKE USAGE ON SEQUENCE users_id_seq FROM keyward_station",
         "keyward_station may USAGE on sequence users_id_seq"},
        {"GRANT CREATE ON SCHEMA public TO keyward_station",
         "REVOKE CREATE ON SCHEMA public FROM keyward_station",
         "keyward_station may create objects in schema public"},
        {"ALTER FUNCTION keyward_users(BIGINT) SECURITY INVOKER",
         "ALTER FUNCTION keyward_users(BIGINT) SECURITY DEFINER",
         "function keyward_users runs as its caller"},
        {"ALTER FUNCTION keyward_add_item(keyward_call, TEXT, TEXT) RESET search_path",
         "ALTER FUNCTION keyward_add_item(keyward_call, TEXT, TEXT) "
         "SET search_path = public, pg_temp",
         "function keyward_add_item has lost its fixed search_path"},
        {"GRANT EXECUTE ON FUNCTION keyward_key() TO PUBLIC",
         "REVOKE EXECUTE ON FUNCTION keyward_key() FROM PUBLIC",
         "PUBLIC may run function keyward_key"},
        {"REVOKE EXECUTE ON FUNCTION keyward_item_count() FROM keyward_station",
         "GRANT EXECUTE ON FUNCTION keyward_item_count() TO keyward_station",
         "function keyward_item_count is missing, or keyward_station may not run it"},
        {"ALTER TABLE audit DISABLE TRIGGER audit_no_delete",
         "ALTER TABLE audit ENABLE TRIGGER audit_no_delete",
         "the audit trail is no longer append-only"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.change);
        ASSERT_EQ(onServer(m_serverDb, c.change), "");
        const auto atOwner = check(owner());
        EXPECT_EQ(atOwner.exitCode, 1);
        EXPECT_NE(atOwner.err.find("keyward: " + std::string(c.named)), std::string::npos)
            << atOwner.err;
        EXPECT_EQ(check(station()).exitCode, 1);
        ASSERT_EQ(onServer(m_serverDb, c.undo), "");
        const auto after = check(station());
        EXPECT_EQ(after.exitCode, 0) << after.err;
    }
}

// Rows inserted or changed behind the functions' back, even with a link made
// as an unkeyed trail would have it, are named by the server's own check,
// which a station may run.
TEST_F(ServerStoreTest, ARowChangedBehindTheFunctionsBackIsNamed) {
    struct Case {
        const char* what;
        const char* sql;
        const char* named;
    };
    const Case cases[] = {
        {"a row added by hand",
         "INSERT INTO audit(id, at, action, outcome, pid, hash) SELECT last + 1, "
         "'2030-01-01T00:00:00.000Z', 'login', 'ok', 1, 'f00d' FROM audit_issued; "
         "UPDATE audit_issued SET last = last + 1",
         "row 5: does not match its link"},
        {"a row added with an unkeyed link",
         "INSERT INTO audit SELECT (r).* FROM (SELECT ROW(a.id + 1, a.at, 'root', 'login', NULL, "
         "NULL, 'ok', 1, keyward_link(a.hash, ROW(a.id + 1, a.at, 'root', 'login', NULL, NULL, "
         "'ok', 1, NULL, NULL, NULL, NULL)::audit, NULL), NULL, NULL, NULL)::audit AS r "
         "FROM audit a ORDER BY a.id DESC LIMIT 1) x; UPDATE audit_issued SET last = last + 1",
         "row 5: does not match its link"},
        {"an outcome changed",
         "ALTER TABLE audit DISABLE TRIGGER audit_no_update; "
         "UPDATE audit SET outcome = 'ok' WHERE id = 3; "
         "ALTER TABLE audit ENABLE TRIGGER audit_no_update",
         "row 3: does not match its link"},
        {"the last row removed",
         "ALTER TABLE audit DISABLE TRIGGER audit_no_delete; DELETE FROM audit WHERE id = 4; "
         "ALTER TABLE audit ENABLE TRIGGER audit_no_delete",
         "row(s) 4..4 at the end are missing"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        freshStore();
        // Rows 1..4: init, user_add op, a failed login, user_add b.
        initialise();
        ASSERT_EQ(login("op", "no"), ERR_BAD_PASSWORD);
        ASSERT_EQ(add_user("b", "pw", 0, 0), KEYWARD_OK);
        keyward_stop();
        ASSERT_EQ(check(station()).exitCode, 0);
        ASSERT_EQ(onServer(m_serverDb, c.sql), "");
        const auto r = check(station());
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.err.find("keyward: audit trail broken at " + std::string(c.named)),
                  std::string::npos)
            << r.err;
    }
}

// Rows the functions linked verify in C++ in a copy, and rows audit.cpp
// linked verify in the server's function: the two agree field for field,
// the station's address included.
TEST_F(ServerStoreTest, LinksMadeByTheServerVerifyInAFileAndBack) {
    initialise();
    setenv("KEYWARD_DB", station().c_str(), 1);
    ASSERT_EQ(login("op", "pw"), KEYWARD_OK);
    ASSERT_EQ(login("nobody", "x"), ERR_NO_SUCH_USER);
    ASSERT_EQ(add_user("张三", "密码", 0, 1), KEYWARD_OK);
    ASSERT_EQ(change_user("张三", "李四", 1, 0), KEYWARD_OK);
    ASSERT_GE(add_limit("edit", "编辑"), 0);
    keyward_stop();
    setenv("KEYWARD_DB", owner().c_str(), 1);
    const std::string file = (m_dir / "copy.db").string();
    const auto backup = keyward({"backup", file});
    ASSERT_EQ(backup.exitCode, 0) << backup.err;
    setenv("KEYWARD_DB", file.c_str(), 1);
    const auto copied = keyward({"audit", "--format=tsv"});
    EXPECT_NE(copied.out.find("\tstore_import\t"), std::string::npos);
    EXPECT_EQ(copied.out.find("broken"), std::string::npos) << copied.out;
    EXPECT_NE(copied.out.find("\tlocal\n"), std::string::npos) << copied.out;
    EXPECT_EQ(keyward({"check"}).exitCode, 0);

    freshStore();
    setenv("KEYWARD_DB", file.c_str(), 1);
    const auto back = keyward({"migrate", "--to", owner()});
    ASSERT_EQ(back.exitCode, 0) << back.err;
    const auto there = check(owner());
    EXPECT_EQ(there.exitCode, 0) << there.err;
}

// A store of an older server schema, its trail linked by plain SHA-256 as
// that schema's code linked it (made here by the test's own SQL): a station
// is told to have the owner upgrade it; the owner's upgrade keeps every row,
// links the trail anew under the new key with a row recording the keying and
// any earlier break, and takes the tables out of the stations' reach.
TEST_F(ServerStoreTest, AnOlderStoreIsUpgradedWholeByItsOwner) {
    struct Case {
        int version;
        bool broken;
        const char* keyed;  // the keying row's outcome and detail
    };
    const Case cases[] = {
        {1, false, "ok\t3 row(s) linked under the store's key"},
        {2, false, "ok\t3 row(s) linked under the store's key"},
        {2, true,
         "broken\t3 row(s) linked under the store's key; the trail was already broken at row 2: "
         "does not match its link (it or the row before it was changed or removed)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.version) + (c.broken ? ", broken" : ""));
        freshStore();
        std::string sql;
        for (int k = 0; k < c.version; ++k) sql += keyward::serverSchemaStep(k);
        const std::string who = c.version >= 2 ? "'root', 'st1'" : "NULL, NULL";
        const std::string columns = c.version >= 2 ? ", os_user, host" : "";
        sql += "INSERT INTO keyward_schema VALUES (" + std::to_string(c.version) +
               "); INSERT INTO users(name, level, mask, hash) VALUES ('old', 4, 4294967295, "
               "'$y$j75$VN9bE0YSJJwdWzFhUwcU/.$aiwrOM6LkBGPqtSEeSViCoooykznRfSGjT6PQ6ByjG5'); "
               "CREATE FUNCTION pg_temp.put(t TEXT) RETURNS TEXT LANGUAGE sql AS $$ SELECT "
               "CASE WHEN t IS NULL THEN 'N;' ELSE octet_length(t) || ':' || t || ';' END $$; "
               "DO $$ DECLARE previous TEXT := ''; data TEXT; BEGIN FOR i IN 1..3 LOOP "
               "data := pg_temp.put(previous) || pg_temp.put(i::text) || "
               "pg_temp.put('2026-01-0' || i || 'T00:00:00.000Z') || pg_temp.put('os:root') || "
               "pg_temp.put('user_add') || pg_temp.put('u' || i) || pg_temp.put(NULL) || "
               "pg_temp.put('ok') || pg_temp.put((100 + i)::text)" +
               (c.version >= 2 ? " || pg_temp.put('root') || pg_temp.put('st1')" : "") +
               "; previous := encode(sha256(convert_to(data, 'UTF8')), 'hex'); "
               "INSERT INTO audit(id, at, actor, action, target, outcome, pid, hash" +
               columns +
               ") VALUES (i, '2026-01-0' || i || 'T00:00:00.000Z', 'os:root', 'user_add', "
               "'u' || i, 'ok', 100 + i, " +
               (c.broken ? "CASE WHEN i = 2 THEN 'x' ELSE previous END" : "previous") +
               (c.version >= 2 ? ", " + who : "") +
               "); END LOOP; UPDATE audit_issued SET last = 3; END $$; "
               "GRANT keyward_station TO station";
        ASSERT_EQ(onServer(m_serverDb, sql), "");

        setenv("KEYWARD_DB", station().c_str(), 1);
        EXPECT_EQ(login("old", ""), ERR_UNAVAILABLE);
        keyward_stop();
        const auto refused = keyward({"users"});
        EXPECT_NE(refused.err.find("; its owner brings it up to date with keyward migrate "
                                   "--upgrade"),
                  std::string::npos)
            << refused.err;

        const auto upgraded = keyward({"migrate", "--upgrade", "--store", owner()});
        ASSERT_EQ(upgraded.exitCode, 0) << upgraded.err;
        EXPECT_EQ(upgraded.out, "upgraded " + owner() + " from schema " +
                                    std::to_string(c.version) + " to " +
                                    std::to_string(keyward::kServerSchemaVersion) + "\n");
        EXPECT_EQ(keyward({"migrate", "--upgrade", "--store", owner()}).out,
                  owner() + " is up to date (schema " +
                      std::to_string(keyward::kServerSchemaVersion) + ")\n");

        EXPECT_EQ(login("old", ""), KEYWARD_OK);
        keyward_stop();
        EXPECT_TRUE(::refused(onServer(m_serverDb, "SELECT hash FROM users", "station")));
        const auto trail = keyward({"audit", "--format=tsv"});
        EXPECT_NE(trail.out.find("\tu3\tok\t\t" + std::string(c.version >= 2 ? "root" : "") +
                                 "\t103\t" + (c.version >= 2 ? "st1" : "") + "\t\n"),
                  std::string::npos)
            << trail.out;
        EXPECT_NE(trail.out.find("\taudit_keyed\t\t" + std::string(c.keyed) + "\t"),
                  std::string::npos)
            << trail.out;
        const auto checked = check(station());
        EXPECT_EQ(checked.exitCode, 0) << checked.err;
        EXPECT_EQ(checked.out.substr(checked.out.find('\n') + 1), "ok: 1 users, 0 items\n");
    }
}

TEST_F(ServerStoreTest, ARoleWithoutTheStationsRightsIsToldWhoGrantsThem) {
    initialise();
    ASSERT_EQ(onServer(m_serverDb,
                       "DO $$ BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = "
                       "'stranger') THEN CREATE ROLE stranger LOGIN; END IF; END $$"),
              "");
    setenv("KEYWARD_DB", serverUri(m_serverDb, "stranger").c_str(), 1);
    const auto r = keyward({"users"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("the role stranger may not use this store; its owner grants it "
                         "keyward_station"),
              std::string::npos)
        << r.err;
}

// The check warns, and still passes, when the credential may be read by
// others: in the location, or in a passfile or a service file holding the
// password with rights for group or others.
TEST_F(ServerStoreTest, CheckWarnsOfACredentialOthersMayRead) {
    initialise();
    const std::string host = serverHost().substr(0, serverHost().find('&'));
    const std::string passfile = (m_dir / "pgpass").string();
    const std::string services = (m_dir / "pg_service.conf").string();
    struct Case {
        const char* what;
        std::string location;
        const char* variable;
        std::string file;
        std::string content;
        mode_t mode;
        const char* warned;  // nullptr: no warning
    };
    const std::string service = "postgresql://?service=kwtest";
    const std::string entry =
        "[kwtest]\nhost=" + host + "\nport=5432\ndbname=" + m_serverDb + "\nuser=postgres\n";
    const Case cases[] = {
        {"a password in the location", owner() + "&password=secret", nullptr, "", "", 0,
         "the location holds its password"},
        {"a passfile for all", owner(), "PGPASSFILE", passfile, "*:*:*:*:secret\n", 0644,
         "the passfile "},
        {"a passfile for its owner", owner(), "PGPASSFILE", passfile, "*:*:*:*:secret\n", 0600,
         nullptr},
        {"a service file with the password for all", service, "PGSERVICEFILE", services,
         entry + "password=secret\n", 0640, "the service file "},
        {"a service file with the password for its owner", service, "PGSERVICEFILE", services,
         entry + "password=secret\n", 0600, nullptr},
        {"a service file without the password for all", service, "PGSERVICEFILE", services, entry,
         0644, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.variable != nullptr) {
            std::ofstream(c.file) << c.content;
            chmod(c.file.c_str(), c.mode);
            setenv(c.variable, c.file.c_str(), 1);
        }
        const auto r = check(c.location);
        if (c.variable != nullptr) unsetenv(c.variable);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        const auto at = r.err.find("keyward: warning: " + std::string(c.warned ? c.warned : ""));
        if (c.warned != nullptr)
            EXPECT_NE(at, std::string::npos) << r.err;
        else
            EXPECT_EQ(r.err.find("may be read by others"), std::string::npos) << r.err;
    }
}

}  // namespace
