// The platform log. Lines go straight to the system log's socket rather than
// through openlog/syslog: those keep one ident per process, which belongs to
// the program that loads us.
#include "trailbook.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

namespace {

std::mutex g_mutex;
int g_socket = -1;  // kept open between trailbook_start and trailbook_stop
bool g_started = false;

// $TRAILBOOK_SOCKET names another log socket (tests, containers).
std::string socketPath() {
    const char* path = std::getenv("TRAILBOOK_SOCKET");
    return path != nullptr && path[0] != '\0' ? path : "/dev/log";
}

int connectLog() {
    const std::string path = socketPath();
    sockaddr_un addr{};
    if (path.size() >= sizeof addr.sun_path) return -1;
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void closeLog() {
    if (g_socket >= 0) ::close(g_socket);
    g_socket = -1;
}

// "<PRI>Mmm dd hh:mm:ss varnock[PID]: text", the form syslog(3) sends.
std::string line(int level, const char* message) {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%b %e %H:%M:%S", &tm);
    // Formatted into a buffer: GCC 12 at -O3 falsely reports "literal" +
    // std::to_string(...) as an overlapping copy (-Wrestrict).
    char head[96];
    std::snprintf(head, sizeof head, "<%d>%s varnock[%ld]: ", LOG_AUTHPRIV | (level & LOG_PRIMASK),
                  stamp, static_cast<long>(getpid()));
    std::string text = head;
    for (const char* p = message; *p != '\0'; ++p)
        text += static_cast<unsigned char>(*p) < 0x20 || *p == 0x7f ? '?' : *p;
    return text;
}

}  // namespace

extern "C" {

int trailbook_start(void) {
    std::lock_guard lock(g_mutex);
    g_started = true;
    if (g_socket < 0) g_socket = connectLog();
    return 0;
}

int trailbook_stop(void) {
    std::lock_guard lock(g_mutex);
    g_started = false;
    closeLog();
    return 0;
}

void trailbook_log(int level, const char* message) {
    if (message == nullptr) return;
    try {
        const std::string text = line(level, message);
        std::lock_guard lock(g_mutex);
        if (g_socket < 0) g_socket = connectLog();
        if (g_socket < 0) return;
        if (::send(g_socket, text.data(), text.size(), MSG_NOSIGNAL) < 0) {
            // The log daemon restarted: one new connection, one more try.
            closeLog();
            g_socket = connectLog();
            if (g_socket >= 0) (void)::send(g_socket, text.data(), text.size(), MSG_NOSIGNAL);
        }
        if (!g_started) closeLog();
    } catch (...) {
        // Logging never fails the caller.
    }
}

}  // extern "C"
