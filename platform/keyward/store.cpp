#include "store.h"

#include <syslog.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "audit.h"
#include "password.h"
#include "paths.h"
#include "trailbook.h"

namespace keyward {

namespace {

constexpr std::uint32_t kAllItems = 0xFFFFFFFFu;
// 系统权限, spelt as UTF-8 bytes so the text does not depend on this file's
// compile options.
constexpr const char* kSysLimitTitleUtf8 = "\xe7\xb3\xbb\xe7\xbb\x9f\xe6\x9d\x83\xe9\x99\x90";

struct StatusInfo {
    int code;
    const char* outcome;
    const char* text;
};

constexpr std::array<StatusInfo, static_cast<std::size_t>(Status::LastAdministrator) + 1>
    kStatusInfo = {{
        {KEYWARD_OK, "ok", "done"},
        {ERR_NO_SUCH_USER, "no_such_user", "no such user"},
        {ERR_BAD_PASSWORD, "bad_password", "wrong password"},
        {ERR_NULL_ARGUMENT, "null_argument", "a text argument is missing"},
        {ERR_INVALID_TEXT, "invalid_text", "not valid text (CP936 without control characters)"},
        {ERR_TOO_LONG, "too_long", "text too long"},
        {ERR_EMPTY_NAME, "empty_text", "empty name"},
        {ERR_USER_EXISTS, "name_taken", "user exists"},
        {ERR_BAD_LEVEL, "bad_level", "level must be 0 to 4"},
        {ERR_NO_SUCH_ITEM, "no_such_item", "no such permission item"},
        {ERR_ITEM_EXISTS, "item_exists", "permission item exists"},
        {ERR_ITEMS_FULL, "items_full", "32 permission items exist already"},
        {ERR_NOT_COUNTED, "not_counted", "the list was not counted first"},
        {ERR_USERS_EXIST, "users_exist", "users exist already"},
        {ERR_HASH_FAILED, "hash_failed", "password hashing failed"},
        {ERR_BUSY, "busy", "database is locked"},
        {ERR_UNAVAILABLE, "unavailable", "database unavailable"},
        // Only the admin command meets this; no call of the interface returns it.
        {-15, "last_administrator", "the store's last level-4 user"},
    }};

const StatusInfo& info(Status status) {
    return kStatusInfo[static_cast<std::size_t>(status)];
}

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

// KEYWARD_HASH_COST wins (tests, one-off tuning); then the database's
// settings row "hash_cost" (fitted by `keyward init`); then the built-in cost.
unsigned long loadHashCost(Database& d) {
    if (const auto cost = hashCostFromEnvironment()) return *cost;
    Statement st(d, "SELECT value FROM settings WHERE key = 'hash_cost'");
    if (st.step())
        if (const auto cost = parseHashCost(st.text(0))) return *cost;
    return kDefaultHashCost;
}

// Two-call listing: a count call remembers what it reported; a fill call
// writes exactly that many records, however the table changed meanwhile.
struct ListQueries {
    const char* count;
    const char* rows;  // takes the number of rows wanted
};
constexpr ListQueries kUserList{"SELECT count(*) FROM users",
                                "SELECT name, level, mask FROM users ORDER BY id LIMIT ?"};
constexpr ListQueries kLimitList{"SELECT count(*) FROM limits",
                                 "SELECT name, title FROM limits ORDER BY id LIMIT ?"};

template <class Record, class FillRow>
int listInto(Database& d, const ListQueries& queries, Record* buf, int& lastCount,
             FillRow fillRow) {
    if (buf == nullptr) {
        lastCount = static_cast<int>(queryInt(d, queries.count));
        return lastCount;
    }
    if (lastCount < 0) return toCode(Status::NotCounted);
    std::memset(static_cast<void*>(buf), 0, sizeof(Record) * static_cast<std::size_t>(lastCount));
    Statement st(d, queries.rows);
    st.bind(1, lastCount);
    for (int i = 0; i < lastCount && st.step(); ++i) fillRow(st, buf[i]);
    return lastCount;
}

bool limitExists(Database& d, const TextArg& name) {
    Statement st(d, "SELECT 1 FROM limits WHERE name = ?");
    st.bind(1, name.utf8.str());
    return st.step();
}

// True when the user called name (UTF-8) is the only one of level 4.
bool lastAdministrator(Database& d, const std::string& name) {
    Statement st(d,
                 "SELECT 1 FROM users WHERE name = ? AND level = 4 "
                 "AND (SELECT count(*) FROM users WHERE level = 4) = 1");
    st.bind(1, name);
    return st.step();
}

}  // namespace

int toCode(Status status) {
    return info(status).code;
}
const char* outcomeName(Status status) {
    return info(status).outcome;
}
const char* describe(Status status) {
    return info(status).text;
}

Store::~Store() {
    close();
}

void Store::close() {
    // An inherited connection belongs to the parent process.
    if (m_db && m_pid != getpid()) m_db->abandon();
    m_db.reset();
}

Database& Store::db() {
    if (m_db && m_pid != getpid()) close();
    // A server connection lost in an earlier call is made again.
    if (m_db && m_db->broken()) m_db.reset();
    if (!m_db) {
        try {
            m_db = std::make_unique<Database>(databasePath(), OpenMode::Create);
        } catch (const DbError& e) {
            if (!e.busy()) unavailable(e.what());
            throw;
        }
        m_pid = getpid();
        m_reported.clear();
    }
    return *m_db;
}

// Said once per reason: a program retrying every call would flood the log.
void Store::unavailable(const std::string& why) {
    m_unavailable = why;
    if (why == m_reported) return;
    m_reported = why;
    const std::string text = "account store unavailable: " + why;
    trailbook_log(LOG_ERR, text.c_str());
    if (m_announce == Announce::AlsoStderr) std::fprintf(stderr, "keyward: %s\n", text.c_str());
}

void Store::start() {
    std::lock_guard lock(m_mutex);
    try {
        db();
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

template <class Body>
auto Store::read(Body body, decltype(body(std::declval<Database&>())) failed) {
    try {
        Database& d = db();
        Transaction tx(d, Transaction::Kind::Read);
        auto result = body(d);
        tx.commit();
        return result;
    } catch (const DbError& e) {
        if (!e.busy()) unavailable(e.what());
        return failed;
    } catch (const std::exception&) {
        return failed;
    }
}

namespace {

// Every audited call goes to the system log too, after its outcome is final.
void logEvent(const AuditEntry& e) {
    std::string text = e.action + " " + e.target.value_or("-");
    if (e.actor) text += " by " + *e.actor;
    text += ": " + e.outcome;
    if (e.detail) text += " (" + *e.detail + ")";
    trailbook_log(e.outcome == outcomeName(Status::Ok) ? LOG_NOTICE : LOG_WARNING, text.c_str());
}

// Thrown inside a write when what a password was checked against changed
// after the check: the transaction is dropped and the check made again.
struct Stale {};

}  // namespace

template <class Body>
Status Store::write(Audit audit, Body body) {
    AuditEntry entry{std::nullopt, audit.action, {}, {}, {}};
    Status status = Status::Ok;
    // A server may end a transaction that lost to a concurrent one; it runs
    // again from the start, as it would have after the other one.
    constexpr int kAttempts = 5;
    for (int attempt = 1;; ++attempt) {
        try {
            Database& d = db();
            Transaction tx(d, Transaction::Kind::Write);
            // Before the body: a user who deletes themselves still acted.
            entry.actor = actorName(d);
            status = body(d, audit);
            entry.target = audit.target;
            if (!audit.detail.empty()) entry.detail = audit.detail;
            entry.outcome = outcomeName(status);
            appendAudit(d, entry);
            tx.commit();
        } catch (const DbError& e) {
            if (e.retry() && attempt < kAttempts) continue;
            status = e.busy() ? Status::Busy : Status::Unavailable;
            if (!e.busy()) unavailable(e.what());
        } catch (const std::exception&) {
            status = Status::Unavailable;
        }
        break;
    }
    if (status == Status::Busy || status == Status::Unavailable) {
        // Not in the trail, so at least in the system log.
        if (!entry.actor && !m_userName.empty()) entry.actor = m_userName;
        if (!audit.typedName) entry.target = audit.target;
        entry.outcome = outcomeName(status);
    }
    logEvent(entry);
    return status;
}

// The logged-in user's name while that user exists.
std::optional<std::string> Store::liveName(Database& d) {
    if (m_userId == 0) return std::nullopt;
    Statement st(d, "SELECT name FROM users WHERE id = ?");
    st.bind(1, m_userId);
    if (!st.step()) return std::nullopt;
    m_userName = st.text(0);
    return m_userName;
}

// Who acts: the admin command's operating-system user; else the logged-in
// user, by the last name known once they are gone.
std::optional<std::string> Store::actorName(Database& d) {
    if (m_adminActor) return m_adminActor;
    if (auto name = liveName(d)) return name;
    if (m_userId == 0 || m_userName.empty()) return std::nullopt;
    return m_userName;
}

// The row id of user, or of the logged-in user for null.
std::optional<std::int64_t> Store::userId(Database& d, const char* user) {
    if (user == nullptr) {
        if (m_userId == 0) return std::nullopt;
        Statement st(d, "SELECT id FROM users WHERE id = ?");
        st.bind(1, m_userId);
        return st.step() ? std::optional(m_userId) : std::nullopt;
    }
    const TextArg name = fromCp936(user, kNameRule);
    if (!name.ok()) return std::nullopt;
    Statement st(d, "SELECT id FROM users WHERE name = ?");
    st.bind(1, name.utf8.str());
    return st.step() ? std::optional(st.integer(0)) : std::nullopt;
}

std::optional<Store::Credentials> Store::credentials(Database& d, const TextArg& name) {
    Statement st(d, "SELECT id, hash FROM users WHERE name = ?");
    st.bind(1, name.utf8.str());
    if (!st.step()) return std::nullopt;
    return Credentials{st.integer(0), st.text(1)};
}

// Hashing is slow, so it runs before the write lock is taken. The cost is
// read anew each time: `keyward init` may have set it since the store opened.
std::optional<std::string> Store::hashFor(const TextArg& password, Status& status,
                                          unsigned long cost) {
    if (status != Status::Ok) return std::nullopt;
    try {
        Database& d = db();
        if (cost == 0) {
            Transaction tx(d, Transaction::Kind::Read);
            cost = loadHashCost(d);
            tx.commit();
        }
    } catch (const DbError& e) {
        status = e.busy() ? Status::Busy : Status::Unavailable;
        return std::nullopt;
    }
    auto hash = hashPassword(password.utf8.str(), cost);
    if (!hash) status = Status::HashFailed;
    return hash;
}

// Checks password against name's stored hash with no lock held (yescrypt
// takes tens to hundreds of milliseconds, and other stations log in too),
// then runs body(d, id) in a short write transaction that first confirms the
// row is as it was checked; when it changed meanwhile, checks again.
template <class Body>
Status Store::verified(const Audit& audit, const TextArg& name, const TextArg& password,
                       Body body) {
    constexpr int kAttempts = 8;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        std::optional<Credentials> seen;
        try {
            Database& d = db();
            Transaction tx(d, Transaction::Kind::Read);
            seen = credentials(d, name);
            tx.commit();
        } catch (const DbError& e) {
            return write(audit, [&](Database&, Audit&) {
                return e.busy() ? Status::Busy : Status::Unavailable;
            });
        }
        const Status verdict = !seen ? Status::NoSuchUser
                               : verifyPassword(password.utf8.str(), seen->hash)
                                   ? Status::Ok
                                   : Status::BadPassword;
        try {
            return write(audit, [&](Database& d, Audit& a) {
                if (credentials(d, name) != seen) throw Stale{};
                // The typed name of an unknown user may be a password typed
                // into the wrong field: it stays out of the trail.
                if (verdict == Status::NoSuchUser) a.target.reset();
                return verdict == Status::Ok ? body(d, seen->id) : verdict;
            });
        } catch (const Stale&) {
        }
    }
    return write(audit, [](Database&, Audit&) { return Status::Busy; });
}

Status Store::login(const char* name, const char* password) {
    std::lock_guard lock(m_mutex);
    const TextArg n = fromCp936(name, kNameRule);
    const TextArg p = fromCp936(password, kPasswordRule);
    const Audit audit{"login", target(n), {}, true};
    if (const Status fault = firstFault(n, p); fault != Status::Ok)
        return write(audit, [&](Database&, Audit&) { return fault; });
    std::int64_t id = 0;
    const Status status = verified(audit, n, p, [&](Database&, std::int64_t userId) {
        id = userId;
        return Status::Ok;
    });
    if (status == Status::Ok) {
        m_userId = id;
        m_userName = n.utf8.str();
    }
    return status;
}

const char* Store::currentName() {
    std::lock_guard lock(m_mutex);
    const auto name = read([&](Database& d) { return liveName(d); }, std::optional<std::string>());
    if (!name)
        std::memset(m_curName, 0, sizeof m_curName);
    else
        utf8ToField(*name, m_curName, sizeof m_curName);
    return m_curName;
}

Status Store::currentNameInto(char* buf) {
    if (buf == nullptr) return Status::NullArgument;
    std::lock_guard lock(m_mutex);
    const auto name = read([&](Database& d) { return liveName(d); }, std::optional<std::string>());
    std::memset(buf, 0, KEYWARD_MAX_TEXT + 1);
    if (!name) return Status::NoSuchUser;
    utf8ToField(*name, buf, KEYWARD_MAX_TEXT + 1);
    return buf[0] != '\0' ? Status::Ok : Status::InvalidText;
}

int Store::level(const char* user) {
    std::lock_guard lock(m_mutex);
    return read(
        [&](Database& d) -> int {
            const auto id = userId(d, user);
            if (!id) return 0;
            Statement st(d, "SELECT level FROM users WHERE id = ?");
            st.bind(1, *id);
            return st.step() ? static_cast<int>(st.integer(0)) : 0;
        },
        0);
}

std::uint32_t Store::mask(const char* user) {
    std::lock_guard lock(m_mutex);
    return read(
        [&](Database& d) -> std::uint32_t {
            const auto id = userId(d, user);
            if (!id) return 0;
            Statement st(d, "SELECT mask FROM users WHERE id = ?");
            st.bind(1, *id);
            return st.step() ? static_cast<std::uint32_t>(st.integer(0)) : 0;
        },
        0u);
}

bool Store::holds(const char* item, const char* user) {
    std::lock_guard lock(m_mutex);
    const TextArg name = fromCp936(item, kNameRule);
    if (!name.ok()) return false;
    return read(
        [&](Database& d) {
            const auto id = userId(d, user);
            if (!id) return false;
            Statement st(d,
                         "SELECT u.mask, (SELECT count(*) FROM limits o WHERE o.id < l.id) "
                         "FROM users u, limits l WHERE u.id = ? AND l.name = ?");
            st.bind(1, *id).bind(2, name.utf8.str());
            if (!st.step()) return false;
            const auto mask = static_cast<std::uint32_t>(st.integer(0));
            return ((mask >> st.integer(1)) & 1u) != 0;
        },
        false);
}

int Store::listUsers(UserRecord* buf) {
    std::lock_guard lock(m_mutex);
    if (buf == nullptr) m_userCount = 0;  // a failed count must not license a later fill
    return read(
        [&](Database& d) {
            return listInto(d, kUserList, buf, m_userCount, [](Statement& st, UserRecord& rec) {
                utf8ToField(st.text(0), rec.name, sizeof rec.name);
                rec.level = static_cast<std::int32_t>(st.integer(1));
                rec.mask = static_cast<std::uint32_t>(st.integer(2));
            });
        },
        toCode(Status::Unavailable));
}

Status Store::addUser(const char* name, const char* password, int level, std::uint32_t mask) {
    std::lock_guard lock(m_mutex);
    const TextArg n = fromCp936(name, kNameRule);
    const TextArg p = fromCp936(password, kPasswordRule);
    Status status = firstFault(n, p);
    if (status == Status::Ok && !validLevel(level)) status = Status::BadLevel;
    const auto hash = hashFor(p, status);
    return write({"user_add", target(n), levelAndMask(level, mask)}, [&](Database& d, Audit&) {
        if (status != Status::Ok) return status;
        Statement exists(d, "SELECT 1 FROM users WHERE name = ?");
        exists.bind(1, n.utf8.str());
        if (exists.step()) return Status::NameTaken;
        Statement st(d, "INSERT INTO users(name, level, mask, hash) VALUES (?, ?, ?, ?)");
        st.bind(1, n.utf8.str())
            .bind(2, level)
            .bind(3, static_cast<std::int64_t>(mask))
            .bind(4, *hash);
        st.step();
        return Status::Ok;
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
    return write({"user_change", target(cur), detail}, [&](Database& d, Audit&) {
        if (status != Status::Ok) return status;
        Statement find(d, "SELECT id FROM users WHERE name = ?");
        find.bind(1, cur.utf8.str());
        if (!find.step()) return Status::NoSuchUser;
        const auto id = find.integer(0);
        if (m_adminActor && level != 4 && lastAdministrator(d, cur.utf8.str()))
            return Status::LastAdministrator;
        Statement taken(d, "SELECT 1 FROM users WHERE name = ? AND id <> ?");
        taken.bind(1, next.utf8.str()).bind(2, id);
        if (taken.step()) return Status::NameTaken;
        Statement st(d, "UPDATE users SET name = ?, level = ?, mask = ? WHERE id = ?");
        st.bind(1, next.utf8.str())
            .bind(2, level)
            .bind(3, static_cast<std::int64_t>(mask))
            .bind(4, id);
        st.step();
        return Status::Ok;
    });
}

Status Store::deleteUser(const char* name) {
    std::lock_guard lock(m_mutex);
    const TextArg n = fromCp936(name, kNameRule);
    return write({"user_delete", target(n), {}}, [&](Database& d, Audit&) {
        if (const Status fault = firstFault(n); fault != Status::Ok) return fault;
        if (m_adminActor && lastAdministrator(d, n.utf8.str())) return Status::LastAdministrator;
        Statement st(d, "DELETE FROM users WHERE name = ?");
        st.bind(1, n.utf8.str());
        st.step();
        return d.changes() == 1 ? Status::Ok : Status::NoSuchUser;
    });
}

Status Store::changePassword(const char* name, const char* oldPassword, const char* newPassword) {
    std::lock_guard lock(m_mutex);
    const TextArg n = fromCp936(name, kNameRule);
    const TextArg oldPw = fromCp936(oldPassword, kPasswordRule);
    const TextArg newPw = fromCp936(newPassword, kPasswordRule);
    const Audit audit{"password_change", target(n), {}};
    Status status = firstFault(n, oldPw, newPw);
    const auto hash = hashFor(newPw, status);
    if (status != Status::Ok) return write(audit, [&](Database&, Audit&) { return status; });
    return verified(audit, n, oldPw, [&](Database& d, std::int64_t id) {
        Statement st(d, "UPDATE users SET hash = ? WHERE id = ?");
        st.bind(1, *hash).bind(2, id);
        st.step();
        return Status::Ok;
    });
}

Status Store::clearPassword(const char* name) {
    std::lock_guard lock(m_mutex);
    const TextArg n = fromCp936(name, kNameRule);
    const TextArg empty = fromCp936("", kPasswordRule);
    Status status = firstFault(n);
    const auto hash = hashFor(empty, status);
    return write({"password_clear", target(n), {}}, [&](Database& d, Audit&) {
        if (status != Status::Ok) return status;
        Statement st(d, "UPDATE users SET hash = ? WHERE name = ?");
        st.bind(1, *hash).bind(2, n.utf8.str());
        st.step();
        return d.changes() == 1 ? Status::Ok : Status::NoSuchUser;
    });
}

int Store::listLimits(LimitRecord* buf) {
    std::lock_guard lock(m_mutex);
    if (buf == nullptr) m_limitCount = 0;
    return read(
        [&](Database& d) {
            return listInto(d, kLimitList, buf, m_limitCount, [](Statement& st, LimitRecord& rec) {
                utf8ToField(st.text(0), rec.name, sizeof rec.name);
                utf8ToField(st.text(1), rec.title, sizeof rec.title);
            });
        },
        toCode(Status::Unavailable));
}

Status Store::limitTitle(const char* name, char* buf) {
    if (buf == nullptr) return Status::NullArgument;
    std::memset(buf, 0, KEYWARD_MAX_TEXT + 1);
    std::lock_guard lock(m_mutex);
    const TextArg n = fromCp936(name, kNameRule);
    if (!n.ok()) return fromFault(n.fault);
    const auto title = read(
        [&](Database& d) -> std::optional<std::string> {
            Statement st(d, "SELECT title FROM limits WHERE name = ?");
            st.bind(1, n.utf8.str());
            return st.step() ? std::optional(st.text(0)) : std::nullopt;
        },
        std::nullopt);
    if (!title) return Status::NoSuchItem;
    utf8ToField(*title, buf, KEYWARD_MAX_TEXT + 1);
    return Status::Ok;
}

int Store::addLimit(const char* name, const char* title) {
    std::lock_guard lock(m_mutex);
    const TextArg n = fromCp936(name, kNameRule);
    const TextArg t = fromCp936(title, kTitleRule);
    // The program registers its item at every start: an item already there
    // is answered from a read, so an unchanged start writes nothing.
    if (firstFault(n, t) == Status::Ok &&
        read([&](Database& d) { return limitExists(d, n); }, false))
        return toCode(Status::ItemExists);
    int position = -1;
    const Status status = write(
        {"item_add", target(n), t.ok() ? "title " + t.utf8.str() : ""}, [&](Database& d, Audit&) {
            if (const Status fault = firstFault(n, t); fault != Status::Ok) return fault;
            if (limitExists(d, n)) return Status::ItemExists;
            position = static_cast<int>(queryInt(d, "SELECT count(*) FROM limits"));
            if (position >= KEYWARD_MAX_LIMITS) return Status::ItemsFull;
            Statement st(d, "INSERT INTO limits(name, title) VALUES (?, ?)");
            st.bind(1, n.utf8.str()).bind(2, t.utf8.str());
            st.step();
            return Status::Ok;
        });
    return status == Status::Ok ? position : toCode(status);
}

Status Store::deleteLimit(int pos) {
    std::lock_guard lock(m_mutex);
    return write(
        {"item_delete", std::nullopt, "position " + std::to_string(pos)},
        [&](Database& d, Audit& audit) {
            if (pos < 0 || pos >= KEYWARD_MAX_LIMITS) return Status::NoSuchItem;
            Statement find(d, "SELECT id, name FROM limits ORDER BY id LIMIT 1 OFFSET ?");
            find.bind(1, pos);
            if (!find.step()) return Status::NoSuchItem;
            audit.target = find.text(1);
            Statement del(d, "DELETE FROM limits WHERE id = ?");
            del.bind(1, find.integer(0));
            del.step();
            // Masks refer to items by position: drop bit pos and move the bits
            // above it down, so no grant passes to the item that moves into
            // its place. All-ones means every item, present and future. Only
            // the mask is shifted: a server's literal 1 is 32 bits wide. A
            // mask without bits at or above pos stays as it is and is not
            // rewritten.
            Statement shift(
                d,
                "UPDATE users SET mask = (mask - (mask >> ?1 << ?1)) | (mask >> ?1 + 1 << ?1) "
                "WHERE mask <> 4294967295 AND (mask >> ?1) <> 0");
            shift.bind(1, pos);
            shift.step();
            return Status::Ok;
        });
}

Status Store::initialise(const char* adminName, const char* password, unsigned long hashCost) {
    std::lock_guard lock(m_mutex);
    const TextArg n = fromCp936(adminName, kNameRule);
    const TextArg p = fromCp936(password, kPasswordRule);
    Status status = firstFault(n, p);
    const auto hash = hashFor(p, status, hashCost);
    return write({"init", target(n), levelAndMask(4, kAllItems)}, [&](Database& d, Audit&) {
        if (status != Status::Ok) return status;
        if (queryInt(d, "SELECT count(*) FROM users") > 0) return Status::UsersExist;
        Statement item(d,
                       "INSERT INTO limits(name, title) SELECT ?1, ?2 "
                       "WHERE NOT EXISTS (SELECT 1 FROM limits WHERE name = ?1)");
        item.bind(1, SYS_LIMIT_NAME).bind(2, kSysLimitTitleUtf8);
        item.step();
        Statement st(d, "INSERT INTO users(name, level, mask, hash) VALUES (?, 4, ?, ?)");
        st.bind(1, n.utf8.str()).bind(2, static_cast<std::int64_t>(kAllItems)).bind(3, *hash);
        st.step();
        if (hashCost != 0) {
            Statement cost(d,
                           "INSERT INTO settings(key, value) VALUES ('hash_cost', ?) "
                           "ON CONFLICT (key) DO UPDATE SET value = excluded.value");
            cost.bind(1, std::to_string(hashCost));
            cost.step();
        }
        return Status::Ok;
    });
}

Status Store::setPassword(const char* name, const char* password) {
    std::lock_guard lock(m_mutex);
    const TextArg n = fromCp936(name, kNameRule);
    const TextArg p = fromCp936(password, kPasswordRule);
    Status status = firstFault(n, p);
    const auto hash = hashFor(p, status);
    return write({"password_set", target(n), {}}, [&](Database& d, Audit&) {
        if (status != Status::Ok) return status;
        Statement st(d, "UPDATE users SET hash = ? WHERE name = ?");
        st.bind(1, *hash).bind(2, n.utf8.str());
        st.step();
        return d.changes() == 1 ? Status::Ok : Status::NoSuchUser;
    });
}

void Store::actAsAdministrator(std::string actor) {
    std::lock_guard lock(m_mutex);
    m_adminActor = std::move(actor);
}

Store& theStore() {
    static Store store(Announce::AlsoStderr);
    return store;
}

}  // namespace keyward
