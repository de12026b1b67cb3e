// A store on a server that misbehaves, on throwaway clusters of the test's
// own: a frozen server holds no call past its deadline, and a stalled
// station holds up the others for seconds only.
#include <signal.h>
#include <unistd.h>

#include <chrono>
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

}  // namespace
