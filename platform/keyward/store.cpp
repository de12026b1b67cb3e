#include "store.h"

#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "password.h"
#include "paths.h"
#include "trailbook.h"

namespace keyward {

namespace {

Status fromFault(TextFault fault) {
    switch (fault) {
        case TextFault::None:
            return Status::Ok;
        case TextFault::Null:
            return Status::NullArgument;
        case TextFault::Invalid:
            return Status::InvalidText;
        case TextFault::Empty:
            return Status::EmptyText;
        case TextFault::TooLong:
            return Status::TooLong;
    }
    return Status::InvalidText;
}

// The first refusal among the arguments, in argument order.
template <class... Args>
Status firstFault(const Args&... args) {
    Status result = Status::Ok;
    ((result = result == Status::Ok ? fromFault(args.fault) : result), ...);
    return result;
}

std::optional<std::string> target(const TextArg& arg) {
    if (!arg.ok()) return std::nullopt;
    return arg.utf8.str();
}

std::string levelAndMask(int level, std::uint32_t mask) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "level %d, mask 0x%08x", level, mask);
    return buf;
}

bool validLevel(int level) {
    return level >= 0 && level < KEYWARD_LEVEL_COUNT;
}

Status failureOf(const DbError& e) {
    return e.busy() ? Status::Busy : Status::Unavailable;
}

// A login's verdict stands when only its audit row cannot be written (a
// read-only or full disk, a server that takes no writes): nobody is shut
// out for it. The attempt then goes to the system log alone, saying so. A
// connection lost is no such case: the verdict may not be the store's.
template <class Write>
Status evenUnaudited(Backend& b, Change& change, Status verdict, Write write) {
    try {
        return write();
    } catch (const DbError& e) {
        if (e.fault() != Fault::ReadOnly && (e.fault() != Fault::Unavailable || b.broken())) throw;
        change.detail += (change.detail.empty() ? "" : "; ") +
                         std::string("not in the audit trail: the store cannot be written: ") +
                         e.what();
        return verdict;
    }
}

}  // namespace

void logEvent(const Change& change, const Caller& who, Status status) {
    std::string text = std::string(change.action) + " " + change.target.value_or("-");
    if (change.actor) text += " by " + *change.actor;
    text += " (" + who.osUser + "@" + who.host + ")";
    text += ": " + std::string(outcomeName(status));
    if (!change.detail.empty()) text += " (" + change.detail + ")";
    trailbook_log(status == Status::Ok ? LOG_NOTICE : LOG_WARNING, text.c_str());
}

Store::Store(StoreOptions options) : m_options(std::move(options)), m_caller(m_options.caller) {}

Store::~Store() {
    close();
}

void Store::close() {
    // An inherited connection belongs to the parent process.
    if (m_backend && m_pid != getpid()) m_backend->abandon();
    m_backend.reset();
}

const Caller& Store::caller() {
    // Named when first needed: a start that writes nothing asks nobody.
    if (!m_caller || (!m_options.caller && m_caller->pid != getpid())) m_caller = thisProcess();
    return *m_caller;
}

Acting Store::acting() {
    return {m_userId, m_userName, m_adminActor, m_options.enforceRules, caller()};
}

Backend& Store::backend() {
    if (m_backend && m_pid != getpid()) close();
    // A server connection lost in an earlier call is made again.
    if (m_backend && m_backend->broken()) m_backend.reset();
    if (!m_backend) {
        try {
            const std::string location =
                m_options.location.empty() ? databasePath() : m_options.location;
            m_backend = openBackend(location, m_options.mode);
        } catch (const DbError& e) {
            if (!e.busy()) unavailable(e.what());
            throw;
        }
        m_pid = getpid();
        m_reported.clear();
    }
    return *m_backend;
}

// Said once per reason: a program retrying every call would flood the log.
void Store::unavailable(const std::string& why) {
    m_why = why;
    if (why == m_reported) return;
    m_reported = why;
    const std::string text = "account store unavailable: " + why;
    trailbook_log(LOG_ERR, text.c_str());
    if (m_options.announce == Announce::AlsoStderr)
        std::fprintf(stderr, "keyward: %s\n", text.c_str());
}

std::string Store::location() {
    std::lock_guard lock(m_mutex);
    try {
        return backend().location();
    } catch (const DbError&) {
        return m_options.location;
    }
}

void Store::start() {
    std::lock_guard lock(m_mutex);
    try {
        backend();
    } catch (const std::exception&) {
        // A store that did not start shows through later results.
    }
}

void Store::stop() {
    std::lock_guard lock(m_mutex);
    close();
    m_userId = 0;
    m_userName.clear();
    m_userCount = -1;
    m_limitCount = -1;
}

template <class Read, class Result>
Result Store::read(Read body, Result failed) {
    m_why.clear();
    try {
        return body(backend());
    } catch (const DbError& e) {
        if (e.busy())
            m_why = "database is locked";
        else
            unavailable(e.what());
        return failed;
    } catch (const std::exception&) {
        return failed;
    }
}

template <class Write>
Status Store::guarded(Change& change, bool typedName, Write write) {
    m_why.clear();
    Status status = Status::Unavailable;
    const std::optional<std::string> typed = change.target;
    try {
        status = write(backend());
    } catch (const Stale&) {
        throw;
    } catch (const DbError& e) {
        // The target as asked, not as a write that failed may have left it.
        change.target = typed;
        return notDone(change, typedName, e);
    } catch (const std::exception&) {
        status = Status::Unavailable;
    }
    // The logged-in user's name as the store last saw it.
    if (m_userId != 0 && !m_adminActor && change.actor) m_userName = *change.actor;
    logEvent(change, caller(), status);
    return status;
}

// A call the store could not carry out: not in the trail, so at least in
// the system log; a typed name that may be a password stays out of it.
Status Store::notDone(Change& change, bool typedName, const DbError& e) {
    const Status status = failureOf(e);
    m_why = e.busy() ? "database is locked" : e.what();
    if (!e.busy()) unavailable(e.what());
    if (!change.actor && m_userId != 0 && !m_userName.empty()) change.actor = m_userName;
    if (typedName) change.target.reset();
    logEvent(change, caller(), status);
    return status;
}

// Hashing is slow, so it runs before the write lock is taken. The cost is
// read anew each time: `keyward init` may have set it since the store opened.
// Throws DbError when the store cannot say: the call fails with it, and
// does not ask the store again.
std::optional<std::string> Store::hashFor(const TextArg& password, Status& status,
                                          unsigned long cost) {
    if (status != Status::Ok) return std::nullopt;
    if (cost == 0) {
        // The store's own setting (fitted by `keyward init`) is the least:
        // KEYWARD_HASH_COST may raise it (one-off tuning), never lower it, so
        // that no station's environment weakens a shared store's hashes. A
        // store without a setting takes the environment's cost (tests), else
        // the built-in one.
        cost = backend().hashCost();
        const auto fromEnvironment = hashCostFromEnvironment();
        cost = cost != 0 ? std::max(cost, fromEnvironment.value_or(0))
                         : fromEnvironment.value_or(kDefaultHashCost);
    }
    auto hash = hashPassword(password.utf8.str(), cost);
    if (!hash) status = Status::HashFailed;
    return hash;
}

// Checks password against name's stored hash with no lock held (yescrypt
// takes tens to hundreds of milliseconds, and other stations log in too),
// then has then(seen, verdict) write in a short transaction that first
// confirms the row is as it was checked; when it changed meanwhile, checks
// again. A password that cannot match (longer than any the store keeps) is
// not hashed at all.
template <class Then>
Status Store::verified(Change& change, const TextArg& name, const TextArg& password, Then then) {
    constexpr int kAttempts = 8;
    const Change asked = change;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        change = asked;
        std::optional<Credentials> seen;
        try {
            seen = backend().credentials(name.utf8.str());
        } catch (const DbError& e) {
            return notDone(change, true, e);
        }
        const Status verdict = !seen ? Status::NoSuchUser
                               : password.ok() && verifyPassword(password.utf8.str(), seen->hash)
                                   ? Status::Ok
                                   : Status::BadPassword;
        // The typed name of an unknown user may be a password typed into the
        // wrong field: it stays out of the trail.
        if (verdict == Status::NoSuchUser) change.target.reset();
        try {
            return guarded(change, true, [&](Backend& b) { return then(b, seen, verdict); });
        } catch (const Stale&) {
        }
    }
    return guarded(change, true,
                   [&](Backend& b) { return b.record(acting(), change, Status::Busy); });
}

// The logged-in user's row while that user exists.
std::optional<Account> Store::loggedIn() {
    if (m_userId == 0) return std::nullopt;
    auto self = backend().account(m_userId);
    if (self) m_userName = self->name;
    return self;
}

// The row id of user, or of the logged-in user for null.
std::optional<std::int64_t> Store::userId(const char* user) {
    if (user == nullptr) {
        const auto self = loggedIn();
        return self ? std::optional(self->id) : std::nullopt;
    }
    const TextArg name = fromCp936(user, kNameRule);
    if (!name.ok()) return std::nullopt;
    const auto account = backend().account(name.utf8.str());
    return account ? std::optional(account->id) : std::nullopt;
}

// ---- the calls ----------------------------------------------------------------

Status Store::login(const char* name, const char* password) {
    std::lock_guard lock(m_mutex);
    const TextArg n = fromCp936(name, kNameRule);
    const TextArg p = fromCp936(password, kPasswordRule);
    Change change{"login", target(n), {}, {}};
    const auto record = [&](Status outcome) {
        return guarded(change, true, [&](Backend& b) {
            return evenUnaudited(b, change, outcome,
                                 [&] { return b.record(acting(), change, outcome); });
        });
    };
    // No account has a name, nor a password, longer than the store keeps:
    // such a login is answered as for any name or password that does not
    // match.
    if (n.fault == TextFault::TooLong && firstFault(p) != Status::NullArgument) {
        change.target.reset();
        return record(Status::NoSuchUser);
    }
    const Status fault = firstFault(n, p);
    if (fault != Status::Ok && !(fault == Status::TooLong && p.fault == TextFault::TooLong))
        return record(fault);
    std::int64_t id = 0;
    const Status status = verified(change, n, p, [&](Backend& b, const auto& seen, Status verdict) {
        if (seen) id = seen->id;
        const Status answered = evenUnaudited(b, change, verdict, [&] {
            return b.login(acting(), change, n.utf8.str(), seen, verdict);
        });
        if (m_options.answered) m_options.answered(n.utf8.str(), seen, answered);
        return answered;
    });
    if (status == Status::Ok) {
        m_userId = id;
        m_userName = n.utf8.str();
    }
    return status;
}

const char* Store::currentName() {
    std::lock_guard lock(m_mutex);
    const auto self = read([&](Backend&) { return loggedIn(); }, std::optional<Account>());
    std::memset(m_curName, 0, sizeof m_curName);
    if (self) utf8ToField(self->name, m_curName, sizeof m_curName);
    return m_curName;
}

Status Store::currentNameInto(char* buf) {
    if (buf == nullptr) return Status::NullArgument;
    std::lock_guard lock(m_mutex);
    const auto self = read([&](Backend&) { return loggedIn(); }, std::optional<Account>());
    std::memset(buf, 0, KEYWARD_MAX_TEXT + 1);
    if (!self) return Status::NoSuchUser;
    utf8ToField(self->name, buf, KEYWARD_MAX_TEXT + 1);
    return buf[0] != '\0' ? Status::Ok : Status::InvalidText;
}

int Store::level(const char* user) {
    std::lock_guard lock(m_mutex);
    return read(
        [&](Backend& b) -> int {
            const auto id = userId(user);
            const auto account = id ? b.account(*id) : std::nullopt;
            return account ? static_cast<int>(account->level) : 0;
        },
        0);
}

std::uint32_t Store::mask(const char* user) {
    std::lock_guard lock(m_mutex);
    return read(
        [&](Backend& b) -> std::uint32_t {
            const auto id = userId(user);
            const auto account = id ? b.account(*id) : std::nullopt;
            return account ? account->mask : 0;
        },
        0u);
}

bool Store::holds(const char* item, const char* user) {
    std::lock_guard lock(m_mutex);
    const TextArg name = fromCp936(item, kNameRule);
    if (!name.ok()) return false;
    return read(
        [&](Backend& b) {
            const auto id = userId(user);
            return id && b.holds(*id, name.utf8.str());
        },
        false);
}

// Two-call listing: a count call remembers what it reported; a fill call
// writes exactly that many records, however the list changed meanwhile.
int Store::listUsers(UserRecord* buf) {
    std::lock_guard lock(m_mutex);
    if (buf == nullptr) {
        m_userCount = 0;  // a failed count must not license a later fill
        const int count =
            read([](Backend& b) { return b.countUsers(); }, toCode(Status::Unavailable));
        if (count >= 0) m_userCount = count;
        return count;
    }
    if (m_userCount < 0) return toCode(Status::NotCounted);
    std::memset(static_cast<void*>(buf), 0,
                sizeof(UserRecord) * static_cast<std::size_t>(m_userCount));
    return read(
        [&](Backend& b) {
            b.listUsers(m_userCount, buf);
            return m_userCount;
        },
        toCode(Status::Unavailable));
}

int Store::listLimits(LimitRecord* buf) {
    std::lock_guard lock(m_mutex);
    if (buf == nullptr) {
        m_limitCount = 0;
        const int count =
            read([](Backend& b) { return b.countItems(); }, toCode(Status::Unavailable));
        if (count >= 0) m_limitCount = count;
        return count;
    }
    if (m_limitCount < 0) return toCode(Status::NotCounted);
    std::memset(static_cast<void*>(buf), 0,
                sizeof(LimitRecord) * static_cast<std::size_t>(m_limitCount));
    return read(
        [&](Backend& b) {
            b.listItems(m_limitCount, buf);
            return m_limitCount;
        },
        toCode(Status::Unavailable));
}

Status Store::addUser(const char* name, const char* password, int level, std::uint32_t mask) {
    std::lock_guard lock(m_mutex);
    const TextArg n = fromCp936(name, kNameRule);
    const TextArg p = fromCp936(password, kPasswordRule);
    Status status = firstFault(n, p);
    if (status == Status::Ok && !validLevel(level)) status = Status::BadLevel;
    Change change{"user_add", target(n), levelAndMask(level, mask), {}};
    return guarded(change, false, [&](Backend& b) {
        const auto hash = hashFor(p, status);
        if (status != Status::Ok) return b.record(acting(), change, status);
        return b.addUser(acting(), change, n.utf8.str(), *hash, level, mask);
    });
}

Status Store::changeUser(const char* curName, const char* newName, int level, std::uint32_t mask) {
    std::lock_guard lock(m_mutex);
    const TextArg cur = fromCp936(curName, kNameRule);
    const TextArg next = fromCp936(newName, kNameRule);
    Status status = firstFault(cur, next);
    if (status == Status::Ok && !validLevel(level)) status = Status::BadLevel;
    std::string detail = levelAndMask(level, mask);
    if (next.ok() && cur.ok() && next.utf8.str() != cur.utf8.str())
        detail = "renamed to " + next.utf8.str() + ", " + detail;
    Change change{"user_change", target(cur), detail, {}};
    return guarded(change, false, [&](Backend& b) {
        if (status != Status::Ok) return b.record(acting(), change, status);
        return b.changeUser(acting(), change, cur.utf8.str(), next.utf8.str(), level, mask);
    });
}

Status Store::deleteUser(const char* name) {
    std::lock_guard lock(m_mutex);
    const TextArg n = fromCp936(name, kNameRule);
    Change change{"user_delete", target(n), {}, {}};
    return guarded(change, false, [&](Backend& b) {
        if (const Status fault = firstFault(n); fault != Status::Ok)
            return b.record(acting(), change, fault);
        return b.deleteUser(acting(), change, n.utf8.str());
    });
}

Status Store::changePassword(const char* name, const char* oldPassword, const char* newPassword) {
    std::lock_guard lock(m_mutex);
    const TextArg n = fromCp936(name, kNameRule);
    const TextArg oldPw = fromCp936(oldPassword, kPasswordRule);
    const TextArg newPw = fromCp936(newPassword, kPasswordRule);
    Change change{"password_change", target(n), {}, {}};
    Status status = firstFault(n, oldPw, newPw);
    std::optional<std::string> hash;
    try {
        hash = hashFor(newPw, status);
    } catch (const DbError& e) {
        return notDone(change, false, e);
    }
    if (status != Status::Ok)
        return guarded(change, false,
                       [&](Backend& b) { return b.record(acting(), change, status); });
    return verified(change, n, oldPw, [&](Backend& b, const auto& seen, Status verdict) {
        if (verdict != Status::Ok) return b.record(acting(), change, verdict);
        return b.setHash(acting(), change, NewHash::Change, n.utf8.str(), *hash, seen);
    });
}

Status Store::clearPassword(const char* name) {
    std::lock_guard lock(m_mutex);
    const TextArg n = fromCp936(name, kNameRule);
    const TextArg empty = fromCp936("", kPasswordRule);
    Status status = firstFault(n);
    Change change{"password_clear", target(n), {}, {}};
    return guarded(change, false, [&](Backend& b) {
        const auto hash = hashFor(empty, status);
        if (status != Status::Ok) return b.record(acting(), change, status);
        return b.setHash(acting(), change, NewHash::Clear, n.utf8.str(), *hash, std::nullopt);
    });
}

Status Store::limitTitle(const char* name, char* buf) {
    if (buf == nullptr) return Status::NullArgument;
    std::memset(buf, 0, KEYWARD_MAX_TEXT + 1);
    std::lock_guard lock(m_mutex);
    const TextArg n = fromCp936(name, kNameRule);
    if (!n.ok()) return fromFault(n.fault);
    const auto title =
        read([&](Backend& b) { return b.itemTitle(n.utf8.str()); }, std::optional<std::string>());
    if (!title) return Status::NoSuchItem;
    utf8ToField(*title, buf, KEYWARD_MAX_TEXT + 1);
    return Status::Ok;
}

int Store::addLimit(const char* name, const char* title) {
    std::lock_guard lock(m_mutex);
    const TextArg n = fromCp936(name, kNameRule);
    const TextArg t = fromCp936(title, kTitleRule);
    const Status fault = firstFault(n, t);
    // The program registers its item at every start: an item already there
    // is answered from a read, so an unchanged start writes nothing.
    if (fault == Status::Ok &&
        read([&](Backend& b) { return b.itemTitle(n.utf8.str()).has_value(); }, false))
        return toCode(Status::ItemExists);
    int position = -1;
    Change change{"item_add", target(n), t.ok() ? "title " + t.utf8.str() : "", {}};
    const Status status = guarded(change, false, [&](Backend& b) {
        if (fault != Status::Ok) return b.record(acting(), change, fault);
        return b.addItem(acting(), change, n.utf8.str(), t.utf8.str(), position);
    });
    return status == Status::Ok ? position : toCode(status);
}

Status Store::deleteLimit(int pos) {
    std::lock_guard lock(m_mutex);
    Change change{"item_delete", std::nullopt, "position " + std::to_string(pos), {}};
    return guarded(change, false, [&](Backend& b) { return b.deleteItem(acting(), change, pos); });
}

// ---- the admin command's calls ------------------------------------------------

Status Store::actAsAdministrator() {
    std::lock_guard lock(m_mutex);
    const Caller& who = caller();
    if (!who.mayAdminister)
        return refuse("administer", "neither root nor a member of the admin group");
    // "os:NAME", so that a store user of the same name is never taken for
    // the person at the console.
    m_adminActor = "os:" + who.osUser;
    return Status::Ok;
}

Status Store::initialise(const char* adminName, const char* password, unsigned long hashCost) {
    std::lock_guard lock(m_mutex);
    const TextArg n = fromCp936(adminName, kNameRule);
    const TextArg p = fromCp936(password, kPasswordRule);
    Status status = firstFault(n, p);
    Change change{"init", target(n), levelAndMask(4, 0xFFFFFFFFu), {}};
    return guarded(change, false, [&](Backend& b) {
        const auto hash = hashFor(p, status, hashCost);
        if (status != Status::Ok) return b.record(acting(), change, status);
        return b.initialise(acting(), change, n.utf8.str(), *hash, hashCost);
    });
}

Status Store::setPassword(const char* name, const char* password) {
    std::lock_guard lock(m_mutex);
    const TextArg n = fromCp936(name, kNameRule);
    const TextArg p = fromCp936(password, kPasswordRule);
    Status status = firstFault(n, p);
    Change change{"password_set", target(n), {}, {}};
    return guarded(change, false, [&](Backend& b) {
        const auto hash = hashFor(p, status);
        if (status != Status::Ok) return b.record(acting(), change, status);
        return b.setHash(acting(), change, NewHash::Set, n.utf8.str(), *hash, std::nullopt);
    });
}

// A refused admin call, in the trail like any other refusal.
Status Store::refuse(const char* action, const std::string& why) {
    Change change{action, std::nullopt, "refused: " + why, {}};
    guarded(change, false, [&](Backend& b) { return b.record(acting(), change, Status::Denied); });
    m_why = why;
    return Status::Denied;
}

Status Store::failed(const DbError& e) {
    m_why = e.busy() ? "database is locked" : e.what();
    return failureOf(e);
}

Status Store::users(std::vector<UserRow>& out) {
    std::lock_guard lock(m_mutex);
    m_why.clear();
    try {
        out = backend().users();
        return Status::Ok;
    } catch (const DbError& e) {
        return failed(e);
    }
}

Status Store::items(std::vector<ItemRow>& out) {
    std::lock_guard lock(m_mutex);
    m_why.clear();
    try {
        out = backend().items();
        return Status::Ok;
    } catch (const DbError& e) {
        return failed(e);
    }
}

Status Store::audit(const std::string& since, std::vector<AuditRow>& out) {
    std::lock_guard lock(m_mutex);
    m_why.clear();
    if (m_options.enforceRules && !m_adminActor)
        return refuse("audit_read", "only administrators read the audit trail");
    try {
        out = backend().audit(since);
        return Status::Ok;
    } catch (const DbError& e) {
        return failed(e);
    }
}

Status Store::check(CheckReport& out) {
    std::lock_guard lock(m_mutex);
    m_why.clear();
    if (m_options.enforceRules && !m_adminActor)
        return refuse("check", "only administrators check the store");
    try {
        out = backend().check();
        return Status::Ok;
    } catch (const DbError& e) {
        return failed(e);
    }
}

Status Store::snapshot(const std::string& file) {
    std::lock_guard lock(m_mutex);
    m_why.clear();
    // A copy holds every password hash, which never leave the service but
    // for root, who may read the store's file anyway.
    if (m_options.enforceRules && (!m_adminActor || caller().uid != 0))
        return refuse("backup", "only root copies the store: a copy holds every password hash");
    try {
        Backend& b = backend();
        // The copy holds password hashes too: made here, 0600, never over
        // an existing file, and removed again unless it is whole.
        const int fd =
            ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0)
            throw DbError(
                errno == EEXIST ? Fault::Failed : Fault::Unavailable,
                (errno == EEXIST ? file + " exists"
                                 : "cannot create " + file + ": " + std::strerror(errno)));
        ::close(fd);
        try {
            b.snapshot(file);
        } catch (...) {
            for (const char* suffix : {"", "-journal", ".key"}) ::unlink((file + suffix).c_str());
            throw;
        }
        return Status::Ok;
    } catch (const DbError& e) {
        return failed(e);
    }
}

std::string Store::why() {
    std::lock_guard lock(m_mutex);
    return std::exchange(m_why, {});
}

}  // namespace keyward
