// A store on a server that misbehaves, on throwaway clusters of the test's
// own: a frozen server holds no call past its deadline, a stalled station
// holds up the others for seconds only, and a promoted standby takes over
// with nothing acknowledged lost.
#include <signal.h>
#include <unistd.h>

#include <chrono>
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
    ASSERT_EQ(login("op", "pw"), KEYWARD_OK);  // connected
    const auto frozenAt = Clock::now();
    Frozen frozen(m_server->processes());
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
    std::this_thread::sleep_until(frozenAt + 20s);
    frozen.thaw();
    EXPECT_EQ(login("op", "pw"), KEYWARD_OK);
    EXPECT_EQ(add_user("new", "pw", 1, 0), KEYWARD_OK);
    EXPECT_EQ(userNames(), (std::vector<std::string>{"op", "new"}));
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

}  // namespace
