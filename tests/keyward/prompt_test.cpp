// The admin command's password prompt on a real terminal (a pseudo-terminal
// that the command has as its controlling terminal, no shell in between):
// echo is off while it asks and back on however the prompt ends.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <csignal>
#include <optional>

#include "support.h"

using namespace kwtest;

namespace {

class Terminal {
public:
    explicit Terminal(const std::vector<std::string>& args) {
        if (openpty(&m_master, &m_slave, nullptr, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty");
        std::vector<std::string> words{KEYWARD_CLI};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        m_pid = fork();
        if (m_pid == 0) {
            setsid();
            ioctl(m_slave, TIOCSCTTY, 0);
            dup2(m_slave, 0);
            dup2(m_slave, 1);
            dup2(m_slave, 2);
            ::close(m_master);
            ::close(m_slave);
            execv(KEYWARD_CLI, argv.data());
            _exit(127);
        }
    }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;
    ~Terminal() {
        if (m_pid > 0 && !m_status) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        ::close(m_master);
        ::close(m_slave);
    }

    // Reads what the command wrote until text has appeared (up to 10 s).
    bool waitFor(const std::string& text) {
        // <chrono> does not compile with CP936 as the execution character set.
        for (int waits = 0; m_output.find(text) == std::string::npos;) {
            pollfd p{m_master, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) {
                if (++waits > 100) return false;
                continue;
            }
            char buf[256];
            const ssize_t n = ::read(m_master, buf, sizeof buf);
            if (n <= 0) return false;
            m_output.append(buf, static_cast<std::size_t>(n));
        }
        return true;
    }
    void type(const std::string& keys) {
        ASSERT_EQ(::write(m_master, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    }
    void signal(int sig) { kill(m_pid, sig); }

    int wait() {
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_status = status;
        // The rest of the output; the terminal stays open while this side
        // holds the slave, so no end of file comes.
        for (pollfd p{m_master, POLLIN, 0}; poll(&p, 1, 0) > 0;) {
            char buf[256];
            const ssize_t n = ::read(m_master, buf, sizeof buf);
            if (n <= 0) break;
            m_output.append(buf, static_cast<std::size_t>(n));
        }
        return status;
    }
    bool echoOn() const {
        termios t{};
        return tcgetattr(m_slave, &t) == 0 && (t.c_lflag & ECHO) != 0;
    }
    const std::string& output() const { return m_output; }

private:
    int m_master = -1;
    int m_slave = -1;
    pid_t m_pid = -1;
    std::optional<int> m_status;
    std::string m_output;
};

class PromptTest : public StoreTest {};

}  // namespace

TEST_F(PromptTest, EchoIsRestoredOnEveryWayOut) {
    const struct {
        const char* what;
        std::string firstAnswer;   // typed at "New password: "
        int signal;                // then sent, or 0
        std::string secondAnswer;  // typed at "Again: ", if asked
        int endSignal;             // the signal the command dies of, or 0
        int exitCode;
    } cases[] = {
        {"Ctrl-C", "\x03", 0, "", SIGINT, 0},
        {"hang-up", "", SIGHUP, "", SIGHUP, 0},
        {"kill", "", SIGTERM, "", SIGTERM, 0},
        {"Ctrl-D", "\x04", 0, "", 0, 1},
        {"mismatch", "secret-one\n", 0, "secret-two\n", 0, 1},
        {"done", "secret-one\n", 0, "secret-one\n", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        keyward_stop();
        std::filesystem::remove(m_dbPath);
        Terminal term({"init", "--admin", "chief"});
        ASSERT_TRUE(term.waitFor("New password: ")) << term.output();
        EXPECT_TRUE(term.echoOn() == false) << "echo must be off while asking";
        if (!c.firstAnswer.empty()) term.type(c.firstAnswer);
        if (c.signal != 0) term.signal(c.signal);
        if (!c.secondAnswer.empty()) {
            ASSERT_TRUE(term.waitFor("Again: ")) << term.output();
            term.type(c.secondAnswer);
        }
        const int status = term.wait();
        EXPECT_TRUE(term.echoOn()) << "echo left off";
        if (c.endSignal != 0) {
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.endSignal) << status;
        } else {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == c.exitCode) << status;
        }
        EXPECT_EQ(term.output().find("secret"), std::string::npos) << "a password was echoed";
        EXPECT_EQ(userNames(), c.exitCode == 0 && c.endSignal == 0
                                   ? std::vector<std::string>{"chief"}
                                   : std::vector<std::string>{});
    }
}
