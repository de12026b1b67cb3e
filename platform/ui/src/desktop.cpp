// The desktop: named mutexes as per-user locks, and finding and raising
// top-level windows of this copy or of another running copy.
//
// A named mutex is flock(2) on a file in the user's runtime directory: the
// kernel drops the lock with its process, so a copy killed with SIGKILL never
// blocks a later start, and there is no stale state to judge (process ids do
// not work across PID namespaces).
//
// The lock holder serves a local socket next to the lock file. The protocol
// is one request line, one answer line, any number per connection:
//   FIND <class> <title>     ->  WND <id>        (0: no such window)
//   RAISE <id> [<token>]     ->  OK | NONE       (NONE: no such window)
//   anything else            ->  ERR
// <class>, <title> and <token> are "*" (any; only for class and title) or
// "x" followed by the bytes in hex, so blanks and CP936 bytes travel safely.
// Titles are CP936 bytes. <id> is a decimal window id of the serving copy;
// <token> is the Wayland activation token the asking copy was started with.

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QWidget>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "cp936.h"
#include "handle.h"
#include "language.h"

#ifdef UI_HAVE_XCB
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>
#endif

namespace {

constexpr const char* kDialogClass = "#32770";
// How long a second copy waits, in all, for the running copy to listen and
// answer; the holder may just have taken the lock and not listen yet.
constexpr int kServerBudgetMs = 3000;
constexpr int kRetryPauseMs = 100;
// Requests are short; a longer line is not one of ours.
constexpr qint64 kMaxLine = 4096;
constexpr qint64 kMaxAnswer = 64;

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) reset(std::exchange(other.m_fd, -1));
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    void reset(int fd = -1) {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd = -1;
};

// ---- paths ------------------------------------------------------------------

// A directory only this user may enter: owned by us, a real directory, no
// access for group or others (with `tighten`, made so if it was looser).
bool isPrivateDir(const std::string& path, bool tighten) {
    UniqueFd dir(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!dir.valid() || ::fstat(dir.get(), &st) != 0) return false;
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) return false;
    if ((st.st_mode & 077) == 0) return true;
    return tighten && ::fchmod(dir.get(), 0700) == 0;
}

// $XDG_RUNTIME_DIR, else a private folder under $TMPDIR or /tmp named by uid;
// empty when neither is usable. The session's runtime directory is not ours
// to change; our own folder is.
std::string runtimeDir() {
    if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg && xdg[0] == '/') {
        if (isPrivateDir(xdg, false)) return xdg;
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = (tmp && tmp[0] == '/') ? tmp : "/tmp";
    dir += "/ui-desktop-" + std::to_string(::geteuid());
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return {};
    return isPrivateDir(dir, true) ? dir : std::string();
}

// File name stem for a mutex name: readable, safe, and unique through a hash
// of the exact name (names differing only in replaced characters stay apart).
std::string fileStem(std::string_view name) {
    std::uint64_t hash = 0xcbf29ce484222325ull;  // FNV-1a
    for (unsigned char c : name) {
        hash ^= c;
        hash *= 0x100000001b3ull;
    }
    std::string stem;
    for (unsigned char c : name.substr(0, 40)) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
        stem += (plain && !(stem.empty() && c == '.')) ? char(c) : '_';
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return stem + '-' + hex;
}

// ---- named locks ------------------------------------------------------------

// One record per mutex name; its address is the HANDLE the program holds.
// Records live as long as the process, as the handles are never closed.
struct NamedLock {
    std::string lockPath;
    std::string socketPath;
    UniqueFd fd;                 // valid while this process holds the lock
    bool heldElsewhere = false;  // another copy holds it: its server may answer
    bool serverStarted = false;
    bool unreachable = false;  // its server failed once: do not wait again
    pid_t peerPid = 0;         // the serving copy, as the kernel names it
};

std::map<std::string, std::unique_ptr<NamedLock>, std::less<>>& namedLocks() {
    static std::map<std::string, std::unique_ptr<NamedLock>, std::less<>> locks;
    return locks;
}

NamedLock& lockFor(std::string_view name) {
    auto& locks = namedLocks();
    auto it = locks.find(name);
    if (it == locks.end()) {
        auto lock = std::make_unique<NamedLock>();
        if (const std::string dir = runtimeDir(); !dir.empty()) {
            const std::string stem = dir + '/' + fileStem(name);
            lock->lockPath = stem + ".lock";
            lock->socketPath = stem + ".sock";
        }
        it = locks.emplace(std::string(name), std::move(lock)).first;
    }
    return *it->second;
}

HANDLE mutexHandle(NamedLock& lock) {
    return reinterpret_cast<HANDLE>(&lock);
}

enum class LockResult { Taken, HeldElsewhere, Failed };

LockResult tryLock(NamedLock& lock) {
    if (lock.fd.valid()) return LockResult::Taken;
    if (lock.lockPath.empty()) return LockResult::Failed;
    UniqueFd fd(::open(lock.lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.valid()) return LockResult::Failed;
    int rc;
    do {
        rc = ::flock(fd.get(), LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) {
        lock.fd = std::move(fd);
        lock.heldElsewhere = false;
        return LockResult::Taken;
    }
    if (errno == EWOULDBLOCK) {
        lock.heldElsewhere = true;
        return LockResult::HeldElsewhere;
    }
    return LockResult::Failed;
}

// ---- wire format ------------------------------------------------------------

QByteArray encodeField(const char* bytes) {
    return bytes ? QByteArray("x") + QByteArray(bytes).toHex() : QByteArray("*");
}

// A field as sent: nullopt for "*" (any); false in *ok for a malformed field.
std::optional<QByteArray> decodeField(const QByteArray& field, bool* ok) {
    *ok = true;
    if (field == "*") return std::nullopt;
    const QByteArray hex = field.mid(1);
    const bool wellFormed =
        field.startsWith('x') && hex.size() % 2 == 0 &&
        std::all_of(hex.begin(), hex.end(), [](char c) { return std::isxdigit(uchar(c)); });
    if (!wellFormed) {
        *ok = false;
        return std::nullopt;
    }
    return QByteArray::fromHex(hex);
}

quint64 windowId(HWND hWnd) {
    return quint64(reinterpret_cast<quintptr>(hWnd));
}

// ---- local windows ----------------------------------------------------------

bool haveWidgets() {
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

// A visible top-level window of ours with that class and title (null: any).
HWND findLocal(const std::optional<QByteArray>& cls, const std::optional<QByteArray>& title) {
    if (!haveWidgets()) return nullptr;
    // A plain string and a flag: GCC misreads an optional QString here.
    const bool anyTitle = !title;
    const QString wanted =
        title ? ui::detail::decodeCp936(std::string_view(title->constData(), size_t(title->size())))
              : QString();
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (!widget->isVisible()) continue;
        const HWND hWnd = ui::detail::handleOf(widget);
        if (!hWnd) continue;
        if (cls && (!hWnd->isDialog || *cls != kDialogClass)) continue;
        if (!anyTitle && widget->windowTitle() != wanted &&
            widget->property(ui::detail::kSourceTitleProperty).toString() != wanted)
            continue;
        return hWnd;
    }
    return nullptr;
}

QWidget* localWidgetById(quint64 id) {
    if (!haveWidgets() || id == 0) return nullptr;
    // Compare against our own windows instead of trusting the number.
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && windowId(ui::detail::handleOf(widget)) == id) return widget;
    }
    return nullptr;
}

#ifdef UI_HAVE_XCB
xcb_atom_t internAtom(xcb_connection_t* c, const char* name) {
    const auto cookie = xcb_intern_atom(c, 1, uint16_t(std::strlen(name)), name);
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(c, cookie, nullptr), &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// The window a window manager names under _NET_SUPPORTING_WM_CHECK, or none.
xcb_window_t wmCheckWindow(xcb_connection_t* c, xcb_window_t window, xcb_atom_t check) {
    const auto cookie = xcb_get_property(c, 0, window, check, XCB_ATOM_WINDOW, 0, 1);
    xcb_generic_error_t* error = nullptr;  // a vanished window: no log line
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(c, cookie, &error), &std::free);
    std::free(error);
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) != 4)
        return XCB_WINDOW_NONE;
    return *static_cast<xcb_window_t*>(xcb_get_property_value(reply.get()));
}

// A running window manager names a child window that names itself; one that
// died leaves a root property pointing nowhere.
bool windowManagerRuns(xcb_connection_t* c, xcb_window_t root) {
    const xcb_atom_t check = internAtom(c, "_NET_SUPPORTING_WM_CHECK");
    if (check == XCB_ATOM_NONE) return false;
    const xcb_window_t child = wmCheckWindow(c, root, check);
    return child != XCB_WINDOW_NONE && wmCheckWindow(c, child, check) == child;
}

// Without a window manager nobody hands out the focus: Qt's activation only
// raises, so the input focus is set here. With one, activation goes through
// it (_NET_ACTIVE_WINDOW) and is left alone.
void takeX11FocusWithoutWm(QWidget* window) {
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c) return;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    if (!screen || windowManagerRuns(c, screen->root)) return;
    const auto cookie = xcb_set_input_focus_checked(
        c, XCB_INPUT_FOCUS_PARENT, xcb_window_t(window->winId()), XCB_CURRENT_TIME);
    // A window not yet viewable refuses the focus; that is not worth a log line.
    std::free(xcb_request_check(c, cookie));
}
#endif

void bringToFront(QWidget* window, const QByteArray& activationToken) {
    if (window->isMinimized()) window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    // Wayland grants activation only with a token from the compositor: the
    // one the starting copy received is handed on to Qt through its variable.
    if (!activationToken.isEmpty()) qputenv("XDG_ACTIVATION_TOKEN", activationToken);
    window->raise();
    window->activateWindow();
#ifdef UI_HAVE_XCB
    if (QGuiApplication::platformName() == QLatin1String("xcb")) takeX11FocusWithoutWm(window);
#endif
}

// Only printable tokens go into the environment.
bool plausibleToken(const QByteArray& token) {
    return !token.isEmpty() && token.size() <= 512 &&
           std::all_of(token.begin(), token.end(), [](char c) { return c > ' ' && c < 127; });
}

// ---- server -----------------------------------------------------------------

QByteArray answer(const QByteArray& line) {
    const QList<QByteArray> parts = line.simplified().split(' ');
    const QByteArray& verb = parts.value(0);
    if (verb == "FIND" && parts.size() == 3) {
        bool clsOk = false;
        bool titleOk = false;
        const auto cls = decodeField(parts[1], &clsOk);
        const auto title = decodeField(parts[2], &titleOk);
        if (!clsOk || !titleOk) return "ERR";
        return "WND " + QByteArray::number(windowId(findLocal(cls, title)));
    }
    if (verb == "RAISE" && (parts.size() == 2 || parts.size() == 3)) {
        bool idOk = false;
        const quint64 id = parts[1].toULongLong(&idOk);
        bool tokenOk = true;
        const QByteArray token = parts.size() == 3
                                     ? decodeField(parts[2], &tokenOk).value_or(QByteArray())
                                     : QByteArray();
        if (!idOk || !tokenOk || (!token.isEmpty() && !plausibleToken(token))) return "ERR";
        QWidget* window = localWidgetById(id);
        if (!window) return "NONE";
        bringToFront(window, token);
        return "OK";
    }
    return "ERR";
}

// One connection to the server: request lines in, answer lines out. It reads
// only while no answer waits to go out, so a peer that never reads cannot
// make the queue grow.
class Connection : public QObject {
public:
    Connection(UniqueFd fd, QObject* parent)
        : QObject(parent),
          m_fd(std::move(fd)),
          m_readable(m_fd.get(), QSocketNotifier::Read),
          m_writable(m_fd.get(), QSocketNotifier::Write) {
        m_writable.setEnabled(false);
        QObject::connect(&m_readable, &QSocketNotifier::activated, this, [this] { receive(); });
        QObject::connect(&m_writable, &QSocketNotifier::activated, this, [this] { send(); });
    }

private:
    void receive() {
        char chunk[4096];
        for (;;) {
            const ssize_t n = ::recv(m_fd.get(), chunk, sizeof chunk, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
            if (n <= 0) return close();  // the peer is gone
            m_in.append(chunk, n);
            if (!answerLines()) return close();  // longer than any request
            send();
            if (!m_out.isEmpty() || m_closed) return;
        }
    }

    // False when a line is longer than any request.
    bool answerLines() {
        qsizetype end;
        while ((end = m_in.indexOf('\n')) >= 0) {
            if (end + 1 > kMaxLine) return false;
            m_out += answer(m_in.left(end + 1)) + '\n';
            m_in.remove(0, end + 1);
        }
        return m_in.size() <= kMaxLine;
    }

    void send() {
        while (!m_out.isEmpty()) {
            const ssize_t n =
                ::send(m_fd.get(), m_out.constData(), size_t(m_out.size()), MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
            if (n < 0) return close();
            m_out.remove(0, n);
        }
        m_writable.setEnabled(!m_out.isEmpty());
        m_readable.setEnabled(m_out.isEmpty());
    }

    void close() {
        m_closed = true;
        m_readable.setEnabled(false);
        m_writable.setEnabled(false);
        deleteLater();
    }

    UniqueFd m_fd;
    QSocketNotifier m_readable;
    QSocketNotifier m_writable;
    QByteArray m_in;
    QByteArray m_out;
    bool m_closed = false;
};

// The listening socket; connections are its children.
class InstanceServer : public QObject {
public:
    InstanceServer(UniqueFd fd, QObject* parent)
        : QObject(parent), m_fd(std::move(fd)), m_acceptable(m_fd.get(), QSocketNotifier::Read) {
        QObject::connect(&m_acceptable, &QSocketNotifier::activated, this, [this] {
            for (;;) {
                const int peer =
                    ::accept4(m_fd.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (peer >= 0) {
                    new Connection(UniqueFd(peer), this);
                    continue;
                }
                if (errno != EINTR) return;
            }
        });
    }

private:
    UniqueFd m_fd;
    QSocketNotifier m_acceptable;
};

// The address of a path socket; false when the path does not fit.
bool socketAddress(const std::string& path, sockaddr_un* address) {
    *address = sockaddr_un{};
    address->sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address->sun_path) return false;
    std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
    return true;
}

// Waits until `fd` is ready for `events`; false on timeout or error.
bool waitFor(int fd, short events, int timeoutMs) {
    pollfd entry{fd, events, 0};
    int rc;
    do {
        rc = ::poll(&entry, 1, timeoutMs);
    } while (rc < 0 && errno == EINTR);
    return rc > 0;
}

// ---- client -----------------------------------------------------------------

// Sends one request to the copy serving `lock` and returns its answer line;
// nullopt when nobody answered in time or the answer is no line of ours.
std::optional<QByteArray> ask(NamedLock& lock, const QByteArray& request) {
    if (lock.unreachable || lock.socketPath.empty()) return std::nullopt;
    QElapsedTimer clock;
    clock.start();
    const auto remaining = [&] {
        return int(std::max<qint64>(0, kServerBudgetMs - clock.elapsed()));
    };
    const auto giveUp = [&lock] {
        lock.unreachable = true;
        return std::nullopt;
    };
    sockaddr_un address;
    if (!socketAddress(lock.socketPath, &address)) return giveUp();

    // Nobody listening yet, or a full backlog: try again shortly.
    UniqueFd socket;
    for (;;) {
        socket.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (socket.valid() && ::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address),
                                        sizeof address) == 0)
            break;
        if (remaining() <= kRetryPauseMs) return giveUp();
        std::this_thread::sleep_for(std::chrono::milliseconds(kRetryPauseMs));
    }
    // Who answers, from the kernel rather than from the answer.
    ucred peer{};
    socklen_t peerSize = sizeof peer;
    if (::getsockopt(socket.get(), SOL_SOCKET, SO_PEERCRED, &peer, &peerSize) == 0)
        lock.peerPid = peer.pid;

    const QByteArray line = request + '\n';
    for (qsizetype sent = 0; sent < line.size();) {
        const ssize_t n =
            ::send(socket.get(), line.constData() + sent, size_t(line.size() - sent), MSG_NOSIGNAL);
        if (n > 0) {
            sent += n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK) ||
                   !waitFor(socket.get(), POLLOUT, remaining())) {
            return giveUp();
        }
    }
    QByteArray received;
    for (;;) {
        if (const qsizetype end = received.indexOf('\n'); end >= 0) {
            if (end + 1 > kMaxAnswer) return giveUp();
            return received.left(end);
        }
        if (received.size() > kMaxAnswer) return giveUp();
        char chunk[kMaxAnswer + 1];
        const ssize_t n = ::recv(socket.get(), chunk, sizeof chunk, 0);
        if (n > 0) {
            received.append(chunk, n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK) || remaining() == 0 ||
                   !waitFor(socket.get(), POLLIN, remaining())) {
            return giveUp();
        }
    }
}

// Which copy a remote window belongs to, for SwitchToThisWindow.
std::map<quint64, NamedLock*>& remoteOwners() {
    static std::map<quint64, NamedLock*> owners;
    return owners;
}

HWND findRemote(LPCSTR lpClassName, LPCSTR lpWindowName) {
    const QByteArray request = "FIND " + encodeField(lpClassName) + ' ' + encodeField(lpWindowName);
    for (auto& [name, lock] : namedLocks()) {
        if (!lock->heldElsewhere) continue;
        const auto reply = ask(*lock, request);
        if (!reply || !reply->startsWith("WND ")) continue;
        bool ok = false;
        const quint64 id = reply->mid(4).toULongLong(&ok);
        if (!ok || id == 0) continue;
        remoteOwners()[id] = lock.get();
        return ui::detail::remoteHandle(id);
    }
    return nullptr;
}

void raiseRemote(quint64 id) {
    const auto owner = remoteOwners().find(id);
    if (owner == remoteOwners().end()) return;
    QByteArray request = "RAISE " + QByteArray::number(id);
    // The token is meant for one activation; it leaves with this request.
    const QByteArray token = qgetenv("XDG_ACTIVATION_TOKEN");
    if (plausibleToken(token)) {
        request += ' ' + encodeField(token.constData());
        qunsetenv("XDG_ACTIVATION_TOKEN");
    }
    ask(*owner->second, request);  // waits for the answer so the raise is done
}

// The desktop server: answers other copies' window look-ups. Started by the
// lock holder (CreateMutexA).
void startInstanceServer(const std::string& lockName) {
    NamedLock& lock = lockFor(lockName);
    if (!lock.fd.valid() || lock.socketPath.empty() || !QCoreApplication::instance()) return;
    sockaddr_un address;
    if (!socketAddress(lock.socketPath, &address)) return;
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.valid()) return;
    // Only the holder gets here, so a socket file left by a killed copy is ours
    // to replace. The folder is private, and the socket is closed to others
    // before anyone is let in.
    ::unlink(lock.socketPath.c_str());
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return;
    if (::chmod(lock.socketPath.c_str(), 0600) != 0 || ::listen(fd.get(), SOMAXCONN) != 0) {
        ::unlink(lock.socketPath.c_str());
        return;
    }
    new InstanceServer(std::move(fd), QCoreApplication::instance());
}

}  // namespace

HANDLE OpenMutexA(DWORD, BOOL, LPCSTR lpName) {
    if (!lpName) return nullptr;
    NamedLock& lock = lockFor(lpName);
    // A free lock is kept rather than let go: the CreateMutexA that follows
    // then cannot lose it to a copy starting at the same instant.
    return tryLock(lock) == LockResult::HeldElsewhere ? mutexHandle(lock) : nullptr;
}

HANDLE CreateMutexA(void*, BOOL, LPCSTR lpName) {
    if (!lpName) {
        static NamedLock unnamed;
        return mutexHandle(unnamed);
    }
    NamedLock& lock = lockFor(lpName);
    // Held for the life of the process: the program never closes the handle.
    if (tryLock(lock) == LockResult::Taken && !lock.serverStarted) {
        lock.serverStarted = true;
        startInstanceServer(lpName);
    }
    return mutexHandle(lock);
}

HWND FindWindowA(LPCSTR lpClassName, LPCSTR lpWindowName) {
    const auto field = [](LPCSTR s) { return s ? std::optional(QByteArray(s)) : std::nullopt; };
    if (HWND local = findLocal(field(lpClassName), field(lpWindowName))) return local;
    return findRemote(lpClassName, lpWindowName);
}

void SwitchToThisWindow(HWND hWnd, BOOL) {
    if (!hWnd || !hWnd->alive()) return;
    if (hWnd->remoteId != 0) {
        raiseRemote(hWnd->remoteId);
        return;
    }
    if (QWidget* widget = hWnd->widget) bringToFront(widget->window(), QByteArray());
}

DWORD GetWindowThreadProcessId(HWND hWnd, DWORD* lpdwProcessId) {
    DWORD pid = 0;
    if (hWnd && hWnd->alive()) {
        pid = DWORD(::getpid());
        if (hWnd->remoteId != 0) {
            const auto owner = remoteOwners().find(hWnd->remoteId);
            pid = owner != remoteOwners().end() ? DWORD(owner->second->peerPid) : 0;
        }
    }
    if (lpdwProcessId) *lpdwProcessId = pid;
    return pid;  // the process stands in for its one thread
}
