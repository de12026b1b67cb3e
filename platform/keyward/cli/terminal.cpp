#include "terminal.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <iterator>

#include "command.h"

namespace keyward::cli {

namespace {

constexpr std::size_t kMaxLine = 1024;

// The terminal's settings while a prompt has echo off, for the signal
// handler; tcsetattr is async-signal-safe.
termios g_saved{};
volatile sig_atomic_t g_quiet = 0;

// Signals that end or stop the process at a prompt: Ctrl-C, Ctrl-\, a hang-up,
// kill, Ctrl-Z.
constexpr int kPromptSignals[] = {SIGINT, SIGQUIT, SIGHUP, SIGTERM, SIGTSTP};

void restoreAndRaise(int sig) {
    const int savedErrno = errno;
    if (g_quiet != 0) tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_saved);
    // The default action now: the process ends (or stops) as the signal
    // means, and its parent sees which signal it was.
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    struct sigaction mine {};
    sigaction(sig, &dfl, &mine);
    sigset_t unblock;
    sigemptyset(&unblock);
    sigaddset(&unblock, sig);
    sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
    raise(sig);
    // Only a stop comes back here, once the process is continued: quiet again.
    sigaction(sig, &mine, nullptr);
    if (g_quiet != 0) {
        termios quiet = g_saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    errno = savedErrno;
}

// Echo stays off only while the guard lives: its destructor restores the
// terminal on every return and exception, the handler on every signal.
class NoEcho {
public:
    NoEcho() {
        if (tcgetattr(STDIN_FILENO, &g_saved) != 0)
            throw usageError("standard input is not a terminal; use --password-stdin");
        struct sigaction handler {};
        handler.sa_handler = restoreAndRaise;
        sigemptyset(&handler.sa_mask);
        for (const int sig : kPromptSignals) sigaddset(&handler.sa_mask, sig);
        for (std::size_t i = 0; i < std::size(kPromptSignals); ++i)
            sigaction(kPromptSignals[i], &handler, &m_previous[i]);
        g_quiet = 1;
        termios quiet = g_saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    NoEcho(const NoEcho&) = delete;
    NoEcho& operator=(const NoEcho&) = delete;
    ~NoEcho() {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_saved);
        g_quiet = 0;
        for (std::size_t i = 0; i < std::size(kPromptSignals); ++i)
            sigaction(kPromptSignals[i], &m_previous[i], nullptr);
    }

private:
    struct sigaction m_previous[std::size(kPromptSignals)]{};
};

// Byte by byte into a buffer reserved up front, so no copy of the password
// is left behind by a reallocation or by a stream's buffer.
SecretString readLine(bool& sawAnything) {
    SecretString line(kMaxLine);
    sawAnything = false;
    for (;;) {
        char c = 0;
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        sawAnything = true;
        if (c == '\n') break;
        if (line.str().size() >= kMaxLine) throw failed("password too long");
        line.str().push_back(c);
        c = 0;
    }
    if (!line.str().empty() && line.str().back() == '\r') line.str().pop_back();
    return line;
}

SecretString prompt(const char* text) {
    std::fputs(text, stderr);
    std::fflush(stderr);
    bool sawAnything = false;
    SecretString line = readLine(sawAnything);
    if (!sawAnything) throw failed("no password given");
    return line;
}

}  // namespace

SecretString readPasswordLine() {
    bool sawAnything = false;
    SecretString line = readLine(sawAnything);
    if (!sawAnything) throw failed("no password on standard input");
    return line;
}

SecretString promptNewPassword() {
    NoEcho quiet;
    SecretString first = prompt("New password: ");
    SecretString second = prompt("Again: ");
    if (first.str() != second.str()) throw failed("passwords do not match");
    return first;
}

SecretString loginPassword(const std::string& name) {
    SecretString utf8;
    if (isatty(STDIN_FILENO) != 0) {
        NoEcho quiet;
        utf8 = prompt(("Password for " + name + ": ").c_str());
    } else {
        utf8 = readPasswordLine();
    }
    TextArg pw = fromUtf8(utf8.str(), kPasswordRule);
    if (!pw.ok()) throw failed("password is not valid text (CP936)");
    return std::move(pw.cp936);
}

SecretString newPassword(bool fromStdin) {
    SecretString utf8 = fromStdin ? readPasswordLine() : promptNewPassword();
    TextArg pw = fromUtf8(utf8.str(), kPasswordRule);
    if (pw.fault == TextFault::TooLong)
        throw failed("password too long: at most 255 bytes in CP936");
    if (!pw.ok()) throw failed("password is not valid text (CP936)");
    return std::move(pw.cp936);
}

}  // namespace keyward::cli
