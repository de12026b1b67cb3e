#include "service.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "caller.h"
#include "offline.h"
#include "session.h"
#include "trailbook.h"

namespace keyward::service {

namespace {

// Once a request's first byte is in, the rest must follow this soon, and a
// reply must be taken this soon: a stalled client loses its connection.
constexpr std::chrono::seconds kRequestTimeout{10};

void log(int level, const std::string& text) {
    trailbook_log(level, ("keywardd: " + text).c_str());
}

// The clients being served, so that a stop can wake them.
class Clients {
public:
    bool add(int fd, std::size_t max) {
        std::lock_guard lock(m_mutex);
        if (m_fds.size() >= max) return false;
        m_fds.insert(fd);
        return true;
    }
    void remove(int fd) {
        std::lock_guard lock(m_mutex);
        m_fds.erase(fd);
        ::close(fd);
        m_done.notify_all();
    }
    // Ends every client's reading; a request under way still gets its reply.
    void stopReading() {
        std::lock_guard lock(m_mutex);
        for (const int fd : m_fds) ::shutdown(fd, SHUT_RD);
    }
    bool waitEmpty(std::chrono::seconds limit) {
        std::unique_lock lock(m_mutex);
        return m_done.wait_for(lock, limit, [&] { return m_fds.empty(); });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    std::set<int> m_fds;
};

// Who is at the other end, as the kernel says: never as the client says.
std::optional<Caller> peerOf(int fd, const std::optional<gid_t>& adminGroup,
                             const std::string& host) {
    ucred cred{};
    socklen_t len = sizeof cred;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) return std::nullopt;
    std::vector<gid_t> groups(64);
    for (;;) {
        socklen_t size = static_cast<socklen_t>(groups.size() * sizeof(gid_t));
        if (getsockopt(fd, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &size) == 0) {
            groups.resize(size / sizeof(gid_t));
            break;
        }
        if (errno != ERANGE) return std::nullopt;
        groups.resize(size / sizeof(gid_t) + 1);
    }
    groups.push_back(cred.gid);
    const bool admin = cred.uid == 0 || (adminGroup && std::find(groups.begin(), groups.end(),
                                                                 *adminGroup) != groups.end());
    return Caller{cred.uid, userName(cred.uid), cred.pid, host, admin};
}

void serve(int fd, Caller caller, const Options& options, OfflineLogins* offline,
           Clients& clients) {
    try {
        Session session(options.store, caller, options.policy, offline);
        std::string request;
        for (;;) {
            // Idle between requests as long as the client likes: a program
            // keeps its session while its window is open.
            if (!wire::receiveFrame(fd, wire::kMaxRequest, request, std::nullopt, kRequestTimeout))
                break;
            wire::Writer reply;
            session.answer(request, reply);
            wire::wipe(request);
            if (!wire::sendFrame(fd, reply.payload(),
                                 std::chrono::steady_clock::now() + kRequestTimeout))
                break;
        }
    } catch (const wire::ProtocolError& e) {
        log(LOG_WARNING, "client " + caller.osUser + " (pid " + std::to_string(caller.pid) +
                             ") dropped: " + e.what());
    } catch (const std::exception& e) {
        log(LOG_ERR, "client " + caller.osUser + " (pid " + std::to_string(caller.pid) +
                         ") dropped: " + e.what());
    }
    clients.remove(fd);
}

// The socket systemd passed (LISTEN_FDS), or -1.
int passedSocket() {
    const char* pid = std::getenv("LISTEN_PID");
    const char* fds = std::getenv("LISTEN_FDS");
    if (pid == nullptr || fds == nullptr || std::atol(pid) != getpid() || std::atoi(fds) < 1)
        return -1;
    constexpr int kFirst = 3;  // SD_LISTEN_FDS_START
    ::fcntl(kFirst, F_SETFD, FD_CLOEXEC);
    return kFirst;
}

// Makes and binds the socket at path: every local user may connect; what
// they may do is the session's business. A socket left by a service that
// died is replaced; one that answers is another service's, and is kept.
int bindSocket(const std::string& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        std::fprintf(stderr, "keywardd: socket path too long: %s\n", path.c_str());
        return -1;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) {
        const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool alive = ::connect(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        ::close(probe);
        if (alive) {
            std::fprintf(stderr, "keywardd: another service answers on %s\n", path.c_str());
            ::close(fd);
            return -1;
        }
        ::unlink(path.c_str());
    }
    const mode_t old = umask(0);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    umask(old);
    if (!bound || ::chmod(path.c_str(), 0666) != 0 || ::listen(fd, 64) != 0) {
        std::fprintf(stderr, "keywardd: cannot listen on %s: %s\n", path.c_str(),
                     std::strerror(errno));
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

int run(const Options& options) {
    sigset_t stopping;
    sigemptyset(&stopping);
    sigaddset(&stopping, SIGTERM);
    sigaddset(&stopping, SIGINT);
    // Blocked before any thread starts, so only the signalfd sees them.
    pthread_sigmask(SIG_BLOCK, &stopping, nullptr);
    signal(SIGPIPE, SIG_IGN);
    const int signals = signalfd(-1, &stopping, SFD_CLOEXEC);

    const bool passed = options.socket.empty();
    const int listener = passed ? passedSocket() : bindSocket(options.socket);
    if (listener < 0) {
        if (passed) std::fprintf(stderr, "keywardd: no socket given and none passed by systemd\n");
        return 1;
    }

    // Set up (or brought up to date) once, as the service's own user; a store
    // that cannot open now is reported by every call until it can.
    const std::string host = hostName();
    {
        Store setUp({Announce::AlsoStderr,
                     options.store,
                     OpenMode::Create,
                     true,
                     thisProcess(),
                     options.policy,
                     {}});
        setUp.start();
    }
    const std::string policy = describePolicy(options.policy);
    log(LOG_NOTICE, "serving " + options.store + (policy.empty() ? "" : " under policy " + policy));
    std::unique_ptr<OfflineLogins> offline;
    if (options.offlineDays > 0 && isServerLocation(options.store)) {
        offline = std::make_unique<OfflineLogins>(options.offlineFolder, options.offlineDays,
                                                  options.store, options.policy);
        log(LOG_NOTICE, "logins of the last " + std::to_string(options.offlineDays) +
                            " days kept for when the server cannot be reached, in " +
                            offline->cacheFile());
    } else if (options.offlineDays > 0) {
        log(LOG_WARNING, "[offline] days applies to a store on a server only");
    }

    Clients clients;
    for (;;) {
        pollfd fds[2] = {{listener, POLLIN, 0}, {signals, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if ((fds[1].revents & POLLIN) != 0) break;
        if ((fds[0].revents & POLLIN) == 0) continue;
        const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        const auto caller = peerOf(fd, options.adminGroup, host);
        if (!caller || !clients.add(fd, options.maxClients)) {
            log(LOG_WARNING,
                caller ? "too many clients; one refused" : "a client without credentials refused");
            ::close(fd);
            continue;
        }
        std::thread(serve, fd, *caller, std::cref(options), offline.get(), std::ref(clients))
            .detach();
    }

    ::close(listener);
    if (!passed) ::unlink(options.socket.c_str());
    clients.stopReading();
    if (!clients.waitEmpty(std::chrono::seconds(15))) {
        log(LOG_WARNING, "stopped with requests still under way");
        // Their sessions may still use the offline logins: left to the exit.
        (void)offline.release();
    }
    log(LOG_NOTICE, "stopped");
    return 0;
}

}  // namespace keyward::service
