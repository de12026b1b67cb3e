#include "client.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "trailbook.h"

namespace keyward {

namespace {

using wire::Op;
using wire::Reader;
using wire::Writer;

constexpr std::chrono::milliseconds kSendTimeout{5000};

Writer request(Op op) {
    Writer w;
    w.u8(static_cast<std::uint8_t>(op));
    return w;
}

const int kUnavailable = toCode(Status::Unavailable);

}  // namespace

ServiceClient::~ServiceClient() {
    disconnect();
}

void ServiceClient::useSocket(const std::string& socket) {
    std::lock_guard lock(m_mutex);
    if (socket == m_socket) return;
    disconnect();
    m_socket = socket;
}

void ServiceClient::disconnect() {
    // An inherited socket is the parent's session: the child leaves it be.
    if (m_fd >= 0 && m_pid == getpid()) ::close(m_fd);
    m_fd = -1;
    m_userCount = -1;
    m_limitCount = -1;
}

void ServiceClient::unavailable(const std::string& why) {
    if (why == m_reported) return;
    m_reported = why;
    const std::string text = "account service unavailable: " + why;
    trailbook_log(LOG_ERR, text.c_str());
    if (m_announce == Announce::AlsoStderr) std::fprintf(stderr, "keyward: %s\n", text.c_str());
}

bool ServiceClient::connect() {
    if (m_fd >= 0 && m_pid == getpid()) return true;
    m_fd = -1;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (m_socket.empty() || m_socket.size() >= sizeof addr.sun_path) {
        unavailable("no usable socket path: " + m_socket);
        return false;
    }
    std::memcpy(addr.sun_path, m_socket.c_str(), m_socket.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        unavailable("cannot connect to " + m_socket + ": " + std::strerror(errno));
        if (fd >= 0) ::close(fd);
        return false;
    }
    m_fd = fd;
    m_pid = getpid();
    m_userCount = -1;
    m_limitCount = -1;
    Writer hello = request(Op::Hello);
    hello.u32(wire::kVersion);
    const auto reply = call(hello);
    if (!reply) return false;
    try {
        Reader r(*reply);
        if (r.i32() != 0) {
            unavailable(m_socket + ": the service speaks another protocol version");
            disconnect();
            return false;
        }
    } catch (const wire::ProtocolError&) {
        disconnect();
        return false;
    }
    m_reported.clear();
    return true;
}

// timeout: long enough for a login's hashing and a store's busy timeout
// behind it.
std::optional<std::string> ServiceClient::call(const Writer& req, std::chrono::seconds timeout) {
    if (m_fd < 0 || m_pid != getpid()) {
        // Hello goes out on a connection just made; anything else makes one.
        if (static_cast<Op>(req.payload()[0]) == Op::Hello || !connect()) return std::nullopt;
    }
    std::string reply;
    try {
        if (wire::sendFrame(m_fd, req.payload(), std::chrono::steady_clock::now() + kSendTimeout) &&
            wire::receiveFrame(m_fd, wire::kMaxReply, reply, timeout, timeout))
            return reply;
        unavailable(m_socket + ": no answer");
    } catch (const wire::ProtocolError& e) {
        unavailable(m_socket + ": " + e.what());
    }
    disconnect();
    return std::nullopt;
}

int ServiceClient::code(const Writer& req) {
    const auto reply = call(req);
    if (!reply) return kUnavailable;
    try {
        return Reader(*reply).i32();
    } catch (const wire::ProtocolError&) {
        disconnect();
        return kUnavailable;
    }
}

void ServiceClient::start() {
    std::lock_guard lock(m_mutex);
    connect();
}

void ServiceClient::stop() {
    std::lock_guard lock(m_mutex);
    disconnect();
}

Status ServiceClient::login(const char* name, const char* password) {
    std::lock_guard lock(m_mutex);
    Writer w = request(Op::Login);
    w.text(name).text(password);
    return fromCode(code(w));
}

const char* ServiceClient::currentName() {
    char name[32] = {};
    currentNameInto(name);
    std::lock_guard lock(m_mutex);
    std::memcpy(m_curName, name, sizeof m_curName);
    return m_curName;
}

Status ServiceClient::currentNameInto(char* buf) {
    if (buf == nullptr) return Status::NullArgument;
    std::lock_guard lock(m_mutex);
    std::memset(buf, 0, KEYWARD_MAX_TEXT + 1);
    const auto reply = call(request(Op::CurrentName));
    if (!reply) return Status::Unavailable;
    try {
        Reader r(*reply);
        const int result = r.i32();
        const auto name = r.text();
        if (result == 0 && name && name->size() <= KEYWARD_MAX_TEXT)
            std::memcpy(buf, name->data(), name->size());
        return fromCode(result);
    } catch (const wire::ProtocolError&) {
        disconnect();
        return Status::Unavailable;
    }
}

int ServiceClient::level(const char* user) {
    std::lock_guard lock(m_mutex);
    Writer w = request(Op::Level);
    w.text(user);
    const int result = code(w);
    return result == kUnavailable ? 0 : result;
}

std::uint32_t ServiceClient::mask(const char* user) {
    std::lock_guard lock(m_mutex);
    Writer w = request(Op::Mask);
    w.text(user);
    const auto reply = call(w);
    if (!reply) return 0;
    try {
        Reader r(*reply);
        r.i32();
        return r.u32();
    } catch (const wire::ProtocolError&) {
        disconnect();
        return 0;
    }
}

bool ServiceClient::holds(const char* item, const char* user) {
    std::lock_guard lock(m_mutex);
    Writer w = request(Op::Holds);
    w.text(item).text(user);
    return code(w) == 1;
}

namespace {

// The fill of a two-call listing: exactly count records, zero-filled where
// the reply has fewer, nothing written when it failed.
template <class Record>
int fill(const std::optional<std::string>& reply, Record* buf, int count) {
    if (!reply) return kUnavailable;
    Reader r(*reply);
    const int result = r.i32();
    if (result < 0) return result;
    const std::string records = r.bytes();
    const std::size_t room = sizeof(Record) * static_cast<std::size_t>(count);
    std::memset(static_cast<void*>(buf), 0, room);
    std::memcpy(static_cast<void*>(buf), records.data(), std::min(room, records.size()));
    return count;
}

}  // namespace

int ServiceClient::listUsers(UserRecord* buf) {
    std::lock_guard lock(m_mutex);
    try {
        if (buf == nullptr) {
            m_userCount = 0;  // a failed count must not license a later fill
            const int count = code(request(Op::CountUsers));
            if (count >= 0) m_userCount = count;
            return count;
        }
        if (m_userCount < 0) return toCode(Status::NotCounted);
        return fill(call(request(Op::FillUsers)), buf, m_userCount);
    } catch (const wire::ProtocolError&) {
        disconnect();
        return kUnavailable;
    }
}

int ServiceClient::listLimits(LimitRecord* buf) {
    std::lock_guard lock(m_mutex);
    try {
        if (buf == nullptr) {
            m_limitCount = 0;
            const int count = code(request(Op::CountLimits));
            if (count >= 0) m_limitCount = count;
            return count;
        }
        if (m_limitCount < 0) return toCode(Status::NotCounted);
        return fill(call(request(Op::FillLimits)), buf, m_limitCount);
    } catch (const wire::ProtocolError&) {
        disconnect();
        return kUnavailable;
    }
}

Status ServiceClient::addUser(const char* name, const char* password, int level,
                              std::uint32_t mask) {
    std::lock_guard lock(m_mutex);
    Writer w = request(Op::AddUser);
    w.text(name).text(password).i32(level).u32(mask);
    return fromCode(code(w));
}

Status ServiceClient::changeUser(const char* curName, const char* newName, int level,
                                 std::uint32_t mask) {
    std::lock_guard lock(m_mutex);
    Writer w = request(Op::ChangeUser);
    w.text(curName).text(newName).i32(level).u32(mask);
    return fromCode(code(w));
}

Status ServiceClient::deleteUser(const char* name) {
    std::lock_guard lock(m_mutex);
    Writer w = request(Op::DeleteUser);
    w.text(name);
    return fromCode(code(w));
}

Status ServiceClient::changePassword(const char* name, const char* oldPassword,
                                     const char* newPassword) {
    std::lock_guard lock(m_mutex);
    Writer w = request(Op::ChangePassword);
    w.text(name).text(oldPassword).text(newPassword);
    return fromCode(code(w));
}

Status ServiceClient::clearPassword(const char* name) {
    std::lock_guard lock(m_mutex);
    Writer w = request(Op::ClearPassword);
    w.text(name);
    return fromCode(code(w));
}

Status ServiceClient::limitTitle(const char* name, char* buf) {
    if (buf == nullptr) return Status::NullArgument;
    std::memset(buf, 0, KEYWARD_MAX_TEXT + 1);
    std::lock_guard lock(m_mutex);
    Writer w = request(Op::LimitTitle);
    w.text(name);
    const auto reply = call(w);
    if (!reply) return Status::Unavailable;
    try {
        Reader r(*reply);
        const int result = r.i32();
        const auto title = r.text();
        if (result == 0 && title && title->size() <= KEYWARD_MAX_TEXT)
            std::memcpy(buf, title->data(), title->size());
        return fromCode(result);
    } catch (const wire::ProtocolError&) {
        disconnect();
        return Status::Unavailable;
    }
}

int ServiceClient::addLimit(const char* name, const char* title) {
    std::lock_guard lock(m_mutex);
    Writer w = request(Op::AddLimit);
    w.text(name).text(title);
    return code(w);
}

Status ServiceClient::deleteLimit(int pos) {
    std::lock_guard lock(m_mutex);
    Writer w = request(Op::DeleteLimit);
    w.i32(pos);
    return fromCode(code(w));
}

int ServiceClient::policy(const char* name) {
    std::lock_guard lock(m_mutex);
    Writer w = request(Op::Policy);
    w.text(name);
    return code(w);
}

int ServiceClient::passwordDaysLeft(const char* user) {
    std::lock_guard lock(m_mutex);
    Writer w = request(Op::PasswordDaysLeft);
    w.text(user);
    return code(w);
}

Status ServiceClient::actAsAdministrator() {
    std::lock_guard lock(m_mutex);
    return fromCode(code(request(Op::ActAsAdministrator)));
}

Status ServiceClient::initialise(const char* adminName, const char* password,
                                 unsigned long hashCost) {
    std::lock_guard lock(m_mutex);
    Writer w = request(Op::Initialise);
    w.text(adminName).text(password).u32(static_cast<std::uint32_t>(hashCost));
    return fromCode(code(w));
}

Status ServiceClient::setPassword(const char* name, const char* password) {
    std::lock_guard lock(m_mutex);
    Writer w = request(Op::SetPassword);
    w.text(name).text(password);
    return fromCode(code(w));
}

template <class Read>
Status ServiceClient::admin(const Writer& req, Read read, bool readAlways,
                            std::chrono::seconds timeout) {
    m_why.clear();
    const auto reply = call(req, timeout);
    if (!reply) {
        m_why = m_reported;
        return Status::Unavailable;
    }
    try {
        Reader r(*reply);
        const Status status = fromCode(r.i32());
        m_why = r.text().value_or("");
        if (status == Status::Ok || readAlways) read(r);
        return status;
    } catch (const wire::ProtocolError& e) {
        disconnect();
        m_why = e.what();
        return Status::Unavailable;
    }
}

Status ServiceClient::users(std::vector<UserRow>& out) {
    std::lock_guard lock(m_mutex);
    return admin(request(Op::Users), [&](Reader& r) {
        for (auto n = r.u32(); n > 0; --n) {
            UserRow row;
            row.name = r.text().value_or("");
            row.level = r.i64();
            row.mask = r.u32();
            out.push_back(std::move(row));
        }
    });
}

Status ServiceClient::items(std::vector<ItemRow>& out) {
    std::lock_guard lock(m_mutex);
    return admin(request(Op::Items), [&](Reader& r) {
        for (auto n = r.u32(); n > 0; --n) {
            ItemRow row;
            row.name = r.text().value_or("");
            row.title = r.text().value_or("");
            out.push_back(std::move(row));
        }
    });
}

Status ServiceClient::audit(const std::string& since, std::vector<AuditRow>& out) {
    std::lock_guard lock(m_mutex);
    Writer w = request(Op::Audit);
    w.text(since);
    return admin(w, [&](Reader& r) {
        for (auto n = r.u32(); n > 0; --n) {
            AuditRow row;
            row.at = r.text().value_or("");
            row.actor = r.text();
            row.action = r.text().value_or("");
            row.target = r.text();
            row.detail = r.text();
            row.outcome = r.text().value_or("");
            row.osUser = r.text();
            row.pid = r.i64();
            row.host = r.text();
            row.address = r.text();
            out.push_back(std::move(row));
        }
    });
}

Status ServiceClient::check(CheckReport& out) {
    std::lock_guard lock(m_mutex);
    return admin(request(Op::Check), [&](Reader& r) {
        out.location = r.text().value_or("");
        for (auto n = r.u32(); n > 0; --n) out.problems.push_back(r.text().value_or(""));
        for (auto n = r.u32(); n > 0; --n) out.warnings.push_back(r.text().value_or(""));
        out.users = r.i64();
        out.items = r.i64();
        out.policy = r.text().value_or("");
    });
}

Status ServiceClient::setLocked(const char* name, bool lock) {
    std::lock_guard guard(m_mutex);
    Writer w = request(Op::SetLocked);
    w.text(name).u8(lock ? 1 : 0);
    return admin(w, [](Reader&) {});
}

Status ServiceClient::loginState(const char* name, bool reset, LoginState& out) {
    std::lock_guard lock(m_mutex);
    Writer w = request(Op::LoginState);
    w.text(name).u8(reset ? 1 : 0);
    return admin(w, [&](Reader& r) {
        out.failures = r.i64();
        out.firstFailure = r.i64();
        out.lockedUntil = r.i64();
        out.locks = r.i64();
        out.passwordSet = r.i64();
        out.mustChange = r.u8() != 0;
        out.locked = r.u8() != 0;
        out.now = r.i64();
    });
}

Status ServiceClient::batch(const Writer& req, std::size_t entries, std::size_t& failedAt) {
    return admin(
        req, [&](Reader& r) { failedAt = r.u32(); }, true,
        std::chrono::seconds(20 + static_cast<long>(entries)));
}

Status ServiceClient::addUsers(const std::vector<UserEntry>& users, std::size_t& failedAt) {
    std::lock_guard lock(m_mutex);
    Writer w = request(Op::AddUsers);
    w.u32(static_cast<std::uint32_t>(users.size()));
    for (const UserEntry& u : users) w.text(u.name).text(u.password.str()).i32(u.level).u32(u.mask);
    return batch(w, users.size(), failedAt);
}

Status ServiceClient::setPasswords(const std::vector<PasswordEntry>& entries,
                                   std::size_t& failedAt) {
    std::lock_guard lock(m_mutex);
    Writer w = request(Op::SetPasswords);
    w.u32(static_cast<std::uint32_t>(entries.size()));
    for (const PasswordEntry& e : entries) w.text(e.name).text(e.password.str());
    return batch(w, entries.size(), failedAt);
}

Status ServiceClient::snapshot(const std::string& file) {
    std::lock_guard lock(m_mutex);
    std::string store;
    std::optional<std::string> key;
    const Status status = admin(request(Op::Snapshot), [&](Reader& r) {
        store = r.bytes();
        key = r.text();
    });
    if (status != Status::Ok) return status;
    // The copy holds password hashes: 0600, never over an existing file.
    const auto put = [&](const std::string& path, const std::string& bytes) {
        const int fd =
            ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            m_why = errno == EEXIST ? path + " exists"
                                    : "cannot create " + path + ": " + std::strerror(errno);
            return false;
        }
        const bool written =
            ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) &&
            ::fsync(fd) == 0;
        ::close(fd);
        if (!written) {
            m_why = "cannot write " + path;
            ::unlink(path.c_str());
        }
        return written;
    };
    if (!put(file, store)) return Status::Unavailable;
    if (key && !put(file + ".key", *key)) {
        ::unlink(file.c_str());
        return Status::Unavailable;
    }
    return Status::Ok;
}

std::string ServiceClient::location() {
    std::lock_guard lock(m_mutex);
    return "the system store (account service at " + m_socket + ")";
}

std::string ServiceClient::why() {
    std::lock_guard lock(m_mutex);
    return std::exchange(m_why, {});
}

}  // namespace keyward

namespace keyward {

std::unique_ptr<Calls> callsFor(const StoreChoice& choice, OpenMode mode, Announce announce) {
    if (choice.kind == StoreChoice::Kind::System) {
        auto client = std::make_unique<ServiceClient>(announce);
        client->useSocket(choice.socket);
        return client;
    }
    StoreOptions options;
    options.announce = announce;
    options.location = choice.location;
    options.mode = mode;
    return std::make_unique<Store>(std::move(options));
}

}  // namespace keyward
