// The account service as its own process, asked by programs running as an
// ordinary user (nobody, through setpriv): what the store keeps must hold
// against a caller with a shell. Needs root, as the service's own user is
// not the caller's; skipped otherwise.
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

#include "support.h"

using namespace kwtest;
using namespace std::chrono_literals;

namespace {

constexpr const char* kNobody = "65534";

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

class ServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "the service's tests switch users: run as root";
        char tmpl[] = "/tmp/keywardd-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        // Others may read the configuration and reach the socket, as on a
        // station; the store's folder is the service's alone.
        chmod(m_dir.c_str(), 0755);
        m_socket = m_dir / "run" / "keyward.sock";
        m_store = m_dir / "state" / "keyward.db";
        std::filesystem::create_directories(m_dir / "run");
        m_conf = m_dir / "varnock.conf";
        std::ofstream(m_conf) << "[store]\nlocation = system\n[service]\nsocket = "
                              << m_socket.string() << "\n";
        chmod(m_conf.c_str(), 0644);
        setenv("SETBANK_SYSTEM_FILE", m_conf.c_str(), 1);
        setenv("KEYWARD_HASH_COST", "1", 1);
        setenv("TRAILBOOK_SOCKET", (m_dir / "no-log").c_str(), 1);
        startService();
        const auto init =
            run(KEYWARD_CLI, {"init", "--admin", "root", "--password-stdin"}, "rootpw\n");
        ASSERT_EQ(init.exitCode, 0) << init.err;
        for (const auto& [name, level] : {std::pair{"op2", "2"}, std::pair{"op1", "1"}}) {
            const auto added =
                run(KEYWARD_CLI, {"useradd", name, "--level", level, "--password-stdin"},
                    std::string(name) + "pw\n");
            ASSERT_EQ(added.exitCode, 0) << added.err;
        }
    }

    void TearDown() override {
        stopService(SIGTERM);
        unsetenv("SETBANK_SYSTEM_FILE");
        std::error_code ec;
        if (!m_dir.empty()) std::filesystem::remove_all(m_dir, ec);
    }

    void startService() {
        m_service = fork();
        if (m_service == 0) {
            const int null = ::open("/dev/null", O_RDWR);
            dup2(null, 1);
            execl(KEYWARDD, KEYWARDD, "--socket", m_socket.c_str(), "--store", m_store.c_str(),
                  "--admin-group", "0", static_cast<char*>(nullptr));
            _exit(127);
        }
        // Up when it answers; a socket left by a killed service does not.
        for (int i = 0; i < 100; ++i) {
            if (answers()) return;
            std::this_thread::sleep_for(50ms);
        }
        FAIL() << "keywardd did not come up";
    }

    // Returns how the service ended.
    int stopService(int sig) {
        if (m_service <= 0) return -1;
        kill(m_service, sig);
        int status = 0;
        waitpid(m_service, &status, 0);
        m_service = -1;
        return status;
    }

    bool answers() {
        const int fd = connectRaw();
        if (fd < 0) return false;
        ::close(fd);
        return true;
    }

    int connectRaw() {
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, m_socket.c_str(), sizeof addr.sun_path - 1);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            ::close(fd);
            return -1;
        }
        return fd;
    }

    // program run as nobody, with only the environment given (and the test
    // configuration's stand-in, unless the environment names another).
    RunResult asNobody(const std::string& program, const std::vector<std::string>& args,
                       std::vector<std::string> env = {}, const std::string& input = "") {
        std::vector<std::string> argv = {"--reuid=" + std::string(kNobody),
                                         "--regid=" + std::string(kNobody),
                                         "--clear-groups",
                                         "/usr/bin/env",
                                         "-i",
                                         "PATH=/usr/bin:/bin",
                                         "TRAILBOOK_SOCKET=" + (m_dir / "no-log").string()};
        bool named = false;
        for (const auto& e : env) named = named || e.rfind("SETBANK_SYSTEM_FILE=", 0) == 0;
        if (!named) argv.push_back("SETBANK_SYSTEM_FILE=" + m_conf.string());
        argv.insert(argv.end(), env.begin(), env.end());
        argv.push_back(program);
        argv.insert(argv.end(), args.begin(), args.end());
        return run("/usr/bin/setpriv", argv, input);
    }

    // The audit trail as "actor action target outcome os_user host", through
    // the service, as root.
    std::vector<std::string> trail() {
        const auto r = run(KEYWARD_CLI, {"audit", "--format=tsv"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        std::vector<std::string> rows;
        for (const auto& line : lines(r.out)) {
            std::vector<std::string> f;
            std::istringstream in(line);
            for (std::string field; std::getline(in, field, '\t');) f.push_back(field);
            if (f.size() < 9 || f[0] == "time") continue;
            for (auto& field : f)
                if (field.empty()) field = "-";
            rows.push_back(f[1] + " " + f[2] + " " + f[3] + " " + f[4] + " " + f[6] + " " + f[8]);
        }
        return rows;
    }

    std::filesystem::path m_dir, m_socket, m_store, m_conf;
    pid_t m_service = -1;
};

std::string host() {
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    return name;
}

}  // namespace

TEST_F(ServiceTest, AnOrdinaryUserCannotReadTheStoreButListsItsUsers) {
    for (const auto& path : {m_store, std::filesystem::path(m_store.string() + ".key")}) {
        const auto read = asNobody("/usr/bin/cat", {path.string()});
        EXPECT_NE(read.exitCode, 0) << path;
        EXPECT_NE(read.err.find("Permission denied"), std::string::npos) << read.err;
    }
    const auto users = asNobody(SERVICE_PROBE, {"users"});
    EXPECT_EQ(users.out, "root 4 4294967295\nop2 2 0\nop1 1 0\nend 3\n") << users.err;
}

TEST_F(ServiceTest, TheEnvironmentAndTheUsersFileChangeNothingWhileEtcNamesTheSystemStore) {
    // The real /etc, in a mount namespace of the test's own: the stand-in
    // that tests use otherwise is itself overruled by it.
    const bool hadFolder = std::filesystem::exists("/etc/varnock");
    std::filesystem::create_directories("/etc/varnock");
    const auto other = m_dir / "other";
    std::filesystem::create_directories(other / "config" / "varnock");
    std::ofstream(other / "config" / "varnock" / "varnock.conf")
        << "[store]\nlocation = " << (other / "user.db").string() << "\n";
    std::ofstream(other / "standin.conf")
        << "[store]\nlocation = " << (other / "standin.db").string() << "\n";
    std::filesystem::permissions(other, std::filesystem::perms::all);
    const std::string probe = SERVICE_PROBE;
    const std::string script =
        "mount -t tmpfs -o mode=0755 none /etc/varnock && cp " + m_conf.string() +
        " /etc/varnock/varnock.conf && chmod 644 /etc/varnock/varnock.conf && "
        "exec setpriv --reuid=65534 --regid=65534 --clear-groups env -i PATH=/usr/bin:/bin "
        "KEYWARD_DB=" +
        (other / "env.db").string() + " SETBANK_SYSTEM_FILE=" + (other / "standin.conf").string() +
        " XDG_CONFIG_HOME=" + (other / "config").string() + " XDG_DATA_HOME=" + other.string() +
        " TRAILBOOK_SOCKET=" + (m_dir / "no-log").string() + " " + probe + " users";
    const auto r =
        run("/usr/bin/unshare", {"--mount", "--propagation", "private", "sh", "-c", script});
    if (!hadFolder) std::filesystem::remove("/etc/varnock");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "root 4 4294967295\nop2 2 0\nop1 1 0\nend 3\n") << r.err;
    for (const char* file : {"env.db", "user.db", "standin.db", "varnock/keyward.db"})
        EXPECT_FALSE(std::filesystem::exists(other / file)) << file;
}

TEST_F(ServiceTest, ALevel2LoginIsRefusedWhatItsLevelDoesNotAllowAndEachRefusalIsAudited) {
    struct Case {
        std::vector<std::string> call;
        int expected;
    };
    const Case cases[] = {
        {{"change_user", "root", "root", "1", "0"}, ERR_DENIED},  // above the own level
        {{"change_user", "op1", "op1", "2", "0"}, ERR_DENIED},    // to the own level
        {{"add_user", "new", "pw", "2", "0"}, ERR_DENIED},
        {{"add_user", "new", "pw", "1", "1"}, ERR_DENIED},  // sys_limit is not op2's
        {{"del_user", "root"}, ERR_DENIED},
        {{"clear_pwd", "root"}, ERR_DENIED},
        {{"add_limit", "drive", "Drive"}, ERR_DENIED},           // without sys_limit
        {{"change_user", "op1", "op1b", "1", "0"}, KEYWARD_OK},  // below: allowed
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"login", "op2", "op2pw"};
        args.insert(args.end(), c.call.begin(), c.call.end());
        const auto r = asNobody(SERVICE_PROBE, args);
        EXPECT_EQ(r.out, "0\n" + std::to_string(c.expected) + "\n") << c.call[0] << " " << r.err;
    }
    // Nobody logged in may change nothing either.
    EXPECT_EQ(asNobody(SERVICE_PROBE, {"del_user", "op2"}).out, std::to_string(ERR_DENIED) + "\n");

    const auto rows = trail();
    const std::string who = " nobody " + host();
    for (const char* expected :
         {"op2 user_change root denied", "op2 user_change op1 denied", "op2 user_add new denied",
          "op2 user_delete root denied", "op2 password_clear root denied",
          "op2 item_add drive denied", "op2 user_change op1 ok", "- user_delete op2 denied"})
        EXPECT_NE(std::find(rows.begin(), rows.end(), expected + who), rows.end())
            << expected << who;
    const auto users = asNobody(SERVICE_PROBE, {"users"});
    EXPECT_EQ(users.out, "root 4 4294967295\nop2 2 0\nop1b 1 0\nend 3\n");
}

TEST_F(ServiceTest, OnlyRootAndTheAdminGroupAdministerWithoutALogin) {
    const auto refused = asNobody(KEYWARD_CLI, {"userdel", "op1"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("may not administer the system store"), std::string::npos)
        << refused.err;
    const auto audit = asNobody(KEYWARD_CLI, {"--login", "op2", "audit"}, {}, "op2pw\n");
    EXPECT_EQ(audit.exitCode, 1);
    EXPECT_EQ(audit.err, "keyward: only administrators read the audit trail\n");
    // A member of the admin group (gid 0 here) administers as root does,
    // but for copies of the store: they hold every password hash.
    const auto member = run("/usr/bin/setpriv",
                            {"--reuid=65534", "--regid=65534", "--groups=0", KEYWARD_CLI, "check"});
    EXPECT_EQ(member.exitCode, 0) << member.err;
    const auto copy =
        run("/usr/bin/setpriv", {"--reuid=65534", "--regid=65534", "--groups=0", KEYWARD_CLI,
                                 "backup", (m_dir / "copy.db").string()});
    EXPECT_EQ(copy.err, "keyward: only root copies the store: a copy holds every password hash\n");
    EXPECT_FALSE(std::filesystem::exists(m_dir / "copy.db"));
    const auto rootCopy = run(KEYWARD_CLI, {"backup", (m_dir / "copy.db").string()});
    EXPECT_EQ(rootCopy.exitCode, 0) << rootCopy.err;
    EXPECT_TRUE(std::filesystem::exists(m_dir / "copy.db.key"));
    // A store user logs in and acts within their rights.
    const auto asOp2 = asNobody(KEYWARD_CLI, {"--login", "op2", "userdel", "op1"}, {}, "op2pw\n");
    EXPECT_EQ(asOp2.exitCode, 0) << asOp2.err;
    const auto rows = trail();
    EXPECT_NE(std::find(rows.begin(), rows.end(), "- administer - denied nobody " + host()),
              rows.end());
    EXPECT_NE(std::find(rows.begin(), rows.end(), "op2 audit_read - denied nobody " + host()),
              rows.end());
}

TEST_F(ServiceTest, TheLastAdministratorStaysWhoeverAsks) {
    EXPECT_EQ(run(KEYWARD_CLI, {"userdel", "root"}).err,
              "keyward: root is the last level-4 user and cannot be deleted\n");
    EXPECT_EQ(run(KEYWARD_CLI, {"usermod", "root", "--level", "3"}).err,
              "keyward: root is the last level-4 user and cannot be demoted\n");
    // Through the C calls, a level-4 login meets its own level first.
    EXPECT_EQ(asNobody(SERVICE_PROBE,
                       {"login", "root", "rootpw", "change_user", "root", "root", "3", "0"})
                  .out,
              "0\n" + std::to_string(ERR_DENIED) + "\n");
}

TEST_F(ServiceTest, AnAuditRowEditedBehindTheServicesBackIsNamed) {
    ASSERT_EQ(run(KEYWARD_CLI, {"check"}).exitCode, 0);
    // Root edits the file directly, and mends the plain SHA-256 links too:
    // without the key, the keyed link still does not fit.
    ASSERT_EQ(execOn(m_store.string(),
                     "DROP TRIGGER audit_no_update; UPDATE audit SET target = 'op9' WHERE id = 3"),
              SQLITE_OK);
    const auto check = run(KEYWARD_CLI, {"check"});
    EXPECT_EQ(check.exitCode, 1);
    EXPECT_NE(check.err.find("audit trail broken at row 3: does not match its link"),
              std::string::npos)
        << check.err;
}

TEST_F(ServiceTest, KillingTheServiceMidWriteLosesNoAcknowledgedChange) {
    std::set<std::string> acked;
    for (int round = 0; round < 4; ++round) {
        // Writers as an administrator in the background, the service killed
        // under them after a while.
        const std::string out = (m_dir / ("acked" + std::to_string(round))).string();
        const pid_t writer = fork();
        if (writer == 0) {
            const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(fd, 1);
            execl(SERVICE_PROBE, SERVICE_PROBE, "login", "root", "rootpw", "adds",
                  ("r" + std::to_string(round) + "u").c_str(), "100000",
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(150 + 70 * round));
        EXPECT_TRUE(WIFSIGNALED(stopService(SIGKILL)));
        kill(writer, SIGKILL);
        waitpid(writer, nullptr, 0);
        for (const auto& line : lines(readBytes(out)))
            if (line.rfind("acked ", 0) == 0) acked.insert(line.substr(6));
        startService();
    }
    ASSERT_FALSE(acked.empty()) << "no write was acknowledged before a kill";
    const auto users = asNobody(SERVICE_PROBE, {"users"});
    std::set<std::string> stored;
    for (const auto& line : lines(users.out)) stored.insert(line.substr(0, line.find(' ')));
    for (const auto& name : acked) EXPECT_TRUE(stored.count(name)) << name << " was acknowledged";
    const auto check = run(KEYWARD_CLI, {"check"});
    EXPECT_EQ(check.exitCode, 0) << check.err;
}

TEST_F(ServiceTest, AClientSendingGarbageOrStoppingMidRequestStallsNobody) {
    // One sends a frame too large and is dropped; one starts a frame and
    // stops; one connects and says nothing.
    const int garbage = connectRaw();
    const char huge[] = "\xff\xff\xff\x7f";
    ASSERT_EQ(::write(garbage, huge, 4), 4);
    const int stalled = connectRaw();
    const char partial[] = "\x10\x00\x00\x00\x01";
    ASSERT_EQ(::write(stalled, partial, 5), 5);
    const int silent = connectRaw();
    char byte = 0;
    EXPECT_EQ(::read(garbage, &byte, 1), 0) << "the garbage sender is dropped";

    const auto start = std::chrono::steady_clock::now();
    const auto users = asNobody(SERVICE_PROBE, {"login", "op2", "op2pw", "users"});
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    EXPECT_EQ(users.out, "0\nroot 4 4294967295\nop2 2 0\nop1 1 0\nend 3\n");
    for (const int fd : {garbage, stalled, silent}) ::close(fd);
    // And it still stops cleanly with clients connected.
    const int idle = connectRaw();
    const int status = stopService(SIGTERM);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ::close(idle);
}
