// A store on a server that misbehaves, on throwaway clusters of the test's
// own: a frozen server holds no call past its deadline, a stalled station
// holds up the others for seconds only, a promoted standby takes over with
// nothing acknowledged lost, and the account service lets the users who
// logged in at its station lately log in while the server is down.
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "cluster.h"
#include "support.h"

using namespace kwtest;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kDb = "varnock";

// The writers' lock as pg_locks shows it: the store's key, granted.
constexpr const char* kLockHeld =
    "SELECT count(*) FROM pg_locks WHERE locktype = 'advisory' AND objid = 1264013892 "
    "AND granted";

class ResilienceTest : public StoreTest {
protected:
    void SetUp() override {
        if (!Cluster::available()) GTEST_SKIP() << "no PostgreSQL 15 programs";
        StoreTest::SetUp();
    }

    // One cluster for the test, its store created by the first call.
    void startServer() {
        m_server = std::make_unique<Cluster>();
        m_server->create();
        ASSERT_EQ(query(m_server->uri("postgres"), std::string("CREATE DATABASE ") + kDb), "");
        setenv("KEYWARD_DB", m_server->uri(kDb).c_str(), 1);
        ASSERT_EQ(add_user("op", "pw", 1, 0), KEYWARD_OK);
    }

    std::unique_ptr<Cluster> m_server;
};

template <class Call>
int timed(Call call, Clock::duration& took) {
    const auto start = Clock::now();
    const int rc = call();
    took = Clock::now() - start;
    return rc;
}

TEST_F(ResilienceTest, AFrozenServerHoldsNoCallPastItsDeadline) {
    startServer();
    keyward_stop();
    // A second station, connected too, writes while the server is frozen:
    // "ready" once connected, then on "go" it adds and reports the code and
    // the milliseconds the add took.
    int ready[2], go[2], report[2];
    ASSERT_EQ(pipe(ready) | pipe(go) | pipe(report), 0);
    const pid_t writer = fork();
    if (writer == 0) {
        char c = 0;
        if (login("op", "pw") != KEYWARD_OK || write(ready[1], "r", 1) != 1 ||
            read(go[0], &c, 1) != 1)
            _exit(1);
        Clock::duration took{};
        const int rc = timed([] { return add_user("new", "pw", 1, 0); }, took);
        const std::string line = std::to_string(rc) + " " + std::to_string(took / 1ms);
        _exit(write(report[1], line.data(), line.size()) == static_cast<ssize_t>(line.size()) ? 0
                                                                                              : 2);
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    ASSERT_EQ(login("op", "pw"), KEYWARD_OK);  // connected
    const auto frozenAt = Clock::now();
    Frozen frozen(m_server->processes());
    ASSERT_EQ(write(go[1], "g", 1), 1);
    struct Case {
        const char* what;
        int (*call)();
    };
    // The first on the connection made before; the others connect anew.
    const Case cases[] = {
        {"login at a connected station", [] { return login("op", "pw"); }},
        {"login", [] { return login("op", "pw"); }},
        {"write", [] { return add_user("new", "pw", 1, 0); }},
        {"count", [] { return get_user_list(nullptr); }},
    };
    for (const Case& c : cases) {
        Clock::duration took{};
        EXPECT_EQ(timed(c.call, took), ERR_UNAVAILABLE) << c.what;
        EXPECT_LT(took, 8s) << c.what;
    }
    int status = 0;
    ASSERT_EQ(waitpid(writer, &status, 0), writer);
    char line[64] = {};
    ASSERT_GT(read(report[0], line, sizeof line - 1), 0);
    int rc = 0;
    long long ms = 0;
    std::istringstream(line) >> rc >> ms;
    EXPECT_EQ(rc, ERR_UNAVAILABLE) << "a write at a connected station";
    EXPECT_LT(ms, 8000) << "a write at a connected station";

    std::this_thread::sleep_until(frozenAt + 20s);
    frozen.thaw();
    EXPECT_EQ(login("op", "pw"), KEYWARD_OK);
    EXPECT_EQ(add_user("new", "pw", 1, 0), KEYWARD_OK);
    EXPECT_EQ(userNames(), (std::vector<std::string>{"op", "new"}));
}

// The server ends an idle session (idle_session_timeout, a restart, an
// administrator): the next call connects again and is not failed for it.
TEST_F(ResilienceTest, ASessionTheServerEndedIsMadeAgainByTheNextCall) {
    startServer();
    ASSERT_EQ(login("op", "pw"), KEYWARD_OK);
    ASSERT_EQ(query(m_server->uri("postgres"),
                    "SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                    "WHERE application_name = 'keyward'"),
              "");
    const auto t0 = Clock::now();
    runSteps({
        {"read", [] { return get_user_group("op"); }, 1},
        {"login", [] { return login("op", "pw"); }, KEYWARD_OK},
        {"write", [] { return add_user("new", "pw", 1, 0); }, KEYWARD_OK},
    });
    // Found closed at once, not given up on after a deadline.
    EXPECT_LT(Clock::now() - t0, 2s);
}

TEST_F(ResilienceTest, AStationStoppedHoldingTheWritersLockHoldsUpTheOthersForSecondsOnly) {
    startServer();
    keyward_stop();
    const pid_t station = fork();
    if (station == 0) {
        for (std::uint32_t i = 0;; ++i) change_user("op", "op", 1, i & 1);
    }
    // Stopped where it holds the lock: seen held, stopped, and seen held still.
    const std::string admin = m_server->uri(kDb);
    Clock::time_point stalledAt{};
    for (int attempt = 0; attempt < 2000 && stalledAt == Clock::time_point{}; ++attempt) {
        std::string held;
        ASSERT_EQ(query(admin, kLockHeld, &held), "");
        if (held != "1") continue;
        kill(station, SIGSTOP);
        stalledAt = Clock::now();
        ASSERT_EQ(query(admin, kLockHeld, &held), "");
        if (held == "1") break;
        stalledAt = {};
        kill(station, SIGCONT);
    }
    ASSERT_NE(stalledAt, Clock::time_point{}) << "the station was never caught holding the lock";

    int rc = ERR_BUSY;
    std::vector<int> refusals;
    while (Clock::now() - stalledAt < 20s && (rc = login("op", "pw")) != KEYWARD_OK)
        refusals.push_back(rc);
    const auto took = Clock::now() - stalledAt;
    kill(station, SIGKILL);
    waitpid(station, nullptr, 0);
    EXPECT_EQ(rc, KEYWARD_OK);
    EXPECT_LT(took, 15s);
    for (const int refused : refusals) EXPECT_EQ(refused, ERR_BUSY);
}

// A station writes without pause while its primary dies and the standby is
// promoted: "NUMBER NANOSECONDS" on the pipe after each acknowledged add.
[[noreturn]] void writeOn(int ack) {
    for (int i = 0;; ++i) {
        const std::string name = "w" + std::to_string(i);
        if (add_user(name.c_str(), "", 1, 0) != KEYWARD_OK) {
            std::this_thread::sleep_for(20ms);
            continue;
        }
        const std::string line =
            std::to_string(i) + " " +
            std::to_string(Clock::now().time_since_epoch() / std::chrono::nanoseconds(1)) + "\n";
        if (write(ack, line.data(), line.size()) != static_cast<ssize_t>(line.size())) _exit(3);
    }
}

TEST_F(ResilienceTest, APromotedStandbyTakesOverWithNothingAcknowledgedLost) {
    Cluster primary;
    Cluster standby;
    primary.create();
    ASSERT_EQ(query(primary.uri("postgres"), std::string("CREATE DATABASE ") + kDb), "");
    standby.createStandbyOf(primary);
    // From now on every commit waits until the standby has it: zero loss.
    // The standby keeps its own setting (none): alone once promoted, it must
    // not wait for a standby of its own.
    ASSERT_EQ(query(primary.uri("postgres"), "ALTER SYSTEM SET synchronous_standby_names = '*'"),
              "");
    ASSERT_EQ(query(primary.uri("postgres"), "SELECT pg_reload_conf()"), "");
    std::string sync;
    for (int i = 0; i < 100 && sync != "sync"; ++i) {
        ASSERT_EQ(
            query(primary.uri("postgres"), "SELECT sync_state FROM pg_stat_replication", &sync),
            "");
        std::this_thread::sleep_for(100ms);
    }
    ASSERT_EQ(sync, "sync");

    const std::string location =
        "postgresql://postgres@/" + std::string(kDb) + "?host=" + primary.socketFolder().string() +
        "," + standby.socketFolder().string() + "&port=5432,5432&target_session_attrs=read-write";
    setenv("KEYWARD_DB", location.c_str(), 1);
    ASSERT_EQ(add_user("op", "pw", 1, 0), KEYWARD_OK);
    keyward_stop();

    int ack[2];
    ASSERT_EQ(pipe(ack), 0);
    const pid_t station = fork();
    if (station == 0) {
        close(ack[0]);
        writeOn(ack[1]);
    }
    close(ack[1]);
    std::this_thread::sleep_for(1s);
    ASSERT_EQ(primary.ctl("stop", "-m immediate"), 0);
    const auto promotedAt = Clock::now();
    ASSERT_EQ(standby.ctl("promote"), 0);
    std::this_thread::sleep_for(6s);
    kill(station, SIGKILL);
    waitpid(station, nullptr, 0);

    std::string acks;
    char buf[4096];
    for (ssize_t n; (n = read(ack[0], buf, sizeof buf)) > 0;) acks.append(buf, n);
    close(ack[0]);
    std::set<std::string> acked;
    Clock::time_point firstAfter{};
    std::istringstream in(acks);
    for (long long i = 0, ns = 0; in >> i >> ns;) {
        acked.insert("w" + std::to_string(i));
        const Clock::time_point at{std::chrono::nanoseconds(ns)};
        if (at > promotedAt && firstAfter == Clock::time_point{}) firstAfter = at;
    }
    ASSERT_NE(firstAfter, Clock::time_point{}) << "no write after the promotion";
    EXPECT_LT(firstAfter - promotedAt, 5s);

    // Everything acknowledged is on the new primary.
    const auto stored = userNames();
    const std::set<std::string> present(stored.begin(), stored.end());
    int lost = 0;
    for (const auto& name : acked) lost += present.count(name) == 0;
    EXPECT_EQ(lost, 0) << "of " << acked.size() << " acknowledged";
    EXPECT_GT(acked.size(), 10u);

    // The old primary started again as it was: two hosts take writes.
    ASSERT_EQ(primary.ctl("start"), 0);
    const auto check = run(KEYWARD_CLI, {"check"});
    EXPECT_NE(check.err.find("takes writes too"), std::string::npos) << check.err;
}

// The account service on a server store, with offline logins kept a day.
class OfflineLoginTest : public ResilienceTest {
protected:
    void SetUp() override {
        ResilienceTest::SetUp();
        if (IsSkipped()) return;
        startServer();
        ASSERT_GE(add_limit("drive", "t"), 0);
        ASSERT_GE(add_limit("tune", "t"), 0);
        for (const char* name : {"op2", "never"}) ASSERT_EQ(add_user(name, "pw", 1, 0), KEYWARD_OK);
        ASSERT_EQ(change_user("op", "op", 2, 0b10), KEYWARD_OK);  // tune, not drive
        keyward_stop();
        m_socket = (m_dir / "keyward.sock").string();
        m_offline = (m_dir / "offline").string();
        m_conf = (m_dir / "varnock.conf").string();
        std::ofstream(m_conf) << "[store]\nlocation = system\n[service]\nsocket = " << m_socket
                              << "\n[offline]\ndays = 1\nfolder = " << m_offline << "\n";
        setenv("SETBANK_SYSTEM_FILE", m_conf.c_str(), 1);
        m_log = std::make_unique<LogSink>((m_dir / "log").string());
        startService();
    }
    void TearDown() override {
        stopService();
        unsetenv("SETBANK_SYSTEM_FILE");
        ResilienceTest::TearDown();
    }

    void startService() {
        m_service = fork();
        if (m_service == 0) {
            execl(KEYWARDD, KEYWARDD, "--socket", m_socket.c_str(), "--store",
                  m_server->uri(kDb).c_str(), "--admin-group", std::to_string(getgid()).c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        // Up once it takes a connection: the socket's file comes before that.
        for (int i = 0; i < 100 && !answers(); ++i) std::this_thread::sleep_for(50ms);
        keyward_stop();
    }
    bool answers() const {
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, m_socket.c_str(), sizeof addr.sun_path - 1);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool up = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        ::close(fd);
        return up;
    }
    void stopService() {
        if (m_service <= 0) return;
        kill(m_service, SIGTERM);
        waitpid(m_service, nullptr, 0);
        m_service = -1;
        keyward_stop();
    }
    // The cache's entries as if each had last logged in online hours ago.
    void age(int hours) {
        const std::string path = m_offline + "/offline-logins";
        std::ifstream in(path);
        std::string text;
        const auto then = std::to_string(time(nullptr) - hours * 3600);
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("user\t", 0) == 0)
                line = "user\t" + then + line.substr(line.find('\t', 5));
            text += line + "\n";
        }
        in.close();
        std::ofstream(path) << text;
    }
    std::string trail(const std::string& where) {
        std::string count;
        EXPECT_EQ(query(m_server->uri(kDb), "SELECT count(*) FROM audit WHERE " + where, &count),
                  "");
        return count;
    }

    std::string m_socket, m_offline, m_conf;
    std::unique_ptr<LogSink> m_log;  // the service's system log
    pid_t m_service = -1;
};

TEST_F(OfflineLoginTest, AUserWhoLoggedInHereLogsInWhileTheServerIsDownReadOnly) {
    for (const char* name : {"op", "op2"}) ASSERT_EQ(login(name, "pw"), KEYWARD_OK) << name;
    // The verifier as read, never a password, for the service alone.
    const std::string cache = m_offline + "/offline-logins";
    struct stat st {};
    ASSERT_EQ(stat(cache.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_NE(readBytes(cache).find("$y$"), std::string::npos);
    EXPECT_EQ(readBytes(cache).find("\tpw\t"), std::string::npos);

    ASSERT_EQ(m_server->ctl("stop", "-m fast"), 0);
    runSteps({
        {"logged in here", [] { return login("op", "pw"); }, KEYWARD_OK},
        {"who", [] { return std::string(get_cur_user()) == "op" ? 0 : 1; }, 0},
        {"own level", [] { return get_user_group(nullptr); }, 2},
        {"own item", [] { return chk_user_limit("tune", nullptr); }, 1},
        {"item not held", [] { return chk_user_limit("drive", nullptr); }, 0},
        {"no change", [] { return add_user("new", "pw", 1, 0); }, ERR_UNAVAILABLE},
        {"wrong password", [] { return login("op", "no"); }, ERR_BAD_PASSWORD},
        {"never logged in here", [] { return login("never", "pw"); }, ERR_UNAVAILABLE},
        {"unknown", [] { return login("nobody", "pw"); }, ERR_UNAVAILABLE},
    });
    // In the system log at once; queued for the trail, for the service alone.
    int ok = 0, refused = 0;
    for (const auto& line : m_log->lines()) {
        if (line.find(": login op (") == std::string::npos) continue;
        ok += line.find(": ok (offline: the store cannot be reached;") != std::string::npos;
        refused += line.find(": bad_password (offline: ") != std::string::npos;
    }
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(refused, 1);
    ASSERT_EQ(stat((m_offline + "/offline-queue").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // Yesterday is within the day; two days ago is not.
    for (const auto& [hours, expected] :
         {std::pair{23, KEYWARD_OK}, std::pair{49, ERR_UNAVAILABLE}}) {
        stopService();
        age(hours);
        startService();
        EXPECT_EQ(login("op", "pw"), expected) << hours << " hours ago";
    }

    // Back: the offline logins reach the trail within seconds, unasked.
    ASSERT_EQ(m_server->ctl("start"), 0);
    const std::string okOffline =
        "action = 'login' AND target = 'op' AND outcome = 'ok' AND detail LIKE 'offline at %'";
    for (int i = 0; i < 150 && trail(okOffline) != "2"; ++i) std::this_thread::sleep_for(100ms);
    EXPECT_EQ(trail(okOffline), "2");
    EXPECT_EQ(trail("action = 'login' AND target = 'op' AND outcome = 'bad_password' AND "
                    "detail LIKE 'offline at %'"),
              "1");
    EXPECT_EQ(readBytes(m_offline + "/offline-queue"), "");
}

TEST_F(OfflineLoginTest, AUserDeletedOrChangedOnTheServerIsHonouredAtTheNextOnlineLogin) {
    for (const char* name : {"op", "op2"}) ASSERT_EQ(login(name, "pw"), KEYWARD_OK) << name;
    // Changed elsewhere: op deleted, op2's password set anew.
    ASSERT_EQ(query(m_server->uri(kDb), "DELETE FROM users WHERE name = 'op'"), "");
    const auto reset =
        run(KEYWARD_CLI, {"passwd", "op2", "--password-stdin"}, std::string("new-pw\n"));
    ASSERT_EQ(reset.exitCode, 0) << reset.err;
    ASSERT_EQ(login("never", "pw"), KEYWARD_OK);  // any login the server answers

    ASSERT_EQ(m_server->ctl("stop", "-m fast"), 0);
    EXPECT_EQ(login("op", "pw"), ERR_UNAVAILABLE);
    EXPECT_EQ(login("op2", "pw"), ERR_BAD_PASSWORD);
    EXPECT_EQ(login("op2", "new-pw"), KEYWARD_OK);
    EXPECT_EQ(login("never", "pw"), KEYWARD_OK) << "it logged in online just now";
}

// Offline, failed logins count against the policy as the server's would, and
// a lockout the server held holds; a level-4 user, who may be the plant's
// last, is not locked when the policy says so.
TEST_F(OfflineLoginTest, FailedOfflineLoginsLockAsTheServersWould) {
    stopService();
    std::ofstream(m_conf, std::ios::app) << "[policy]\ndeny = 2\nlock_last_admin = no\n";
    startService();
    ASSERT_EQ(query(m_server->uri(kDb), "UPDATE users SET level = 4 WHERE name = 'op2'"), "");
    // Locked out on the server before it goes away: locked here too.
    ASSERT_EQ(login("never", "pw"), KEYWARD_OK);
    for (int i = 0; i < 2; ++i) ASSERT_EQ(login("never", "no"), ERR_BAD_PASSWORD);
    ASSERT_EQ(login("never", "pw"), ERR_ACCOUNT_LOCKED);
    for (const char* name : {"op", "op2"}) ASSERT_EQ(login(name, "pw"), KEYWARD_OK) << name;

    ASSERT_EQ(m_server->ctl("stop", "-m fast"), 0);
    runSteps({
        {"a failure is forgotten at success", [] { return login("op", "no"); }, ERR_BAD_PASSWORD},
        {"right", [] { return login("op", "pw"); }, KEYWARD_OK},
        {"first", [] { return login("op", "no"); }, ERR_BAD_PASSWORD},
        {"second locks", [] { return login("op", "no"); }, ERR_BAD_PASSWORD},
        {"locked, right password", [] { return login("op", "pw"); }, ERR_ACCOUNT_LOCKED},
        {"level 4, first", [] { return login("op2", "no"); }, ERR_BAD_PASSWORD},
        {"level 4, second", [] { return login("op2", "no"); }, ERR_BAD_PASSWORD},
        {"level 4, never locked", [] { return login("op2", "pw"); }, KEYWARD_OK},
        {"locked out on the server", [] { return login("never", "pw"); }, ERR_ACCOUNT_LOCKED},
    });
    int locked = 0;
    for (const auto& line : m_log->lines())
        locked += line.find(": login op (") != std::string::npos &&
                  line.find(": account_locked (offline: ") != std::string::npos;
    EXPECT_EQ(locked, 1);
}

}  // namespace
