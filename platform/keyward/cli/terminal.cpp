#include "terminal.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "command.h"

namespace keyward::cli {

namespace {

constexpr std::size_t kMaxLine = 1024;

// Echo stays off only while the guard lives, whatever happens meanwhile.
class NoEcho {
public:
    NoEcho() {
        if (tcgetattr(STDIN_FILENO, &m_saved) != 0)
            throw usageError("standard input is not a terminal; use --password-stdin");
        termios quiet = m_saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    NoEcho(const NoEcho&) = delete;
    NoEcho& operator=(const NoEcho&) = delete;
    ~NoEcho() { tcsetattr(STDIN_FILENO, TCSAFLUSH, &m_saved); }

private:
    termios m_saved{};
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

SecretString newPassword(bool fromStdin) {
    SecretString utf8 = fromStdin ? readPasswordLine() : promptNewPassword();
    TextArg pw = fromUtf8(utf8.str(), kPasswordRule);
    if (pw.fault == TextFault::TooLong)
        throw failed("password too long: at most 255 bytes in CP936");
    if (!pw.ok()) throw failed("password is not valid text (CP936)");
    return std::move(pw.cp936);
}

}  // namespace keyward::cli
