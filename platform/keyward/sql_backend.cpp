#include "sql_backend.h"

#include <cstring>
#include <ctime>

#include "audit.h"
#include "password.h"
#include "store/keyward.h"
#include "text.h"

namespace keyward {

namespace {

constexpr std::uint32_t kAllItems = 0xFFFFFFFFu;
// 系统权限, spelt as UTF-8 bytes so the text does not depend on this file's
// compile options.
constexpr const char* kSysLimitTitleUtf8 = "\xe7\xb3\xbb\xe7\xbb\x9f\xe6\x9d\x83\xe9\x99\x90";

std::optional<Account> accountWhere(Connection& d, const char* where, auto key) {
    Statement st(d, std::string("SELECT id, name, level, mask FROM users WHERE ") + where);
    st.bind(1, key);
    if (!st.step()) return std::nullopt;
    return Account{st.integer(0), st.text(1), st.integer(2),
                   static_cast<std::uint32_t>(st.integer(3))};
}

// True when the user called name is the only one of level 4.
bool lastAdministrator(Connection& d, const std::string& name) {
    Statement st(d,
                 "SELECT 1 FROM users WHERE name = ? AND level = 4 "
                 "AND (SELECT count(*) FROM users WHERE level = 4) = 1");
    st.bind(1, name);
    return st.step();
}

std::optional<Credentials> credentialsOf(Connection& d, const std::string& name) {
    Statement st(d, "SELECT id, hash FROM users WHERE name = ?");
    st.bind(1, name);
    if (!st.step()) return std::nullopt;
    return Credentials{st.integer(0), st.text(1)};
}

// A user's row with what the account policy keeps of it, by this
// machine's clock.
struct Stored {
    Account account;
    LoginState state;
};

std::optional<Stored> storedWhere(Connection& d, const char* where, auto key) {
    Statement st(d,
                 std::string("SELECT id, name, level, mask, locked, fail_count, fail_first, "
                             "locked_until, lock_count, pwd_set, must_change FROM users WHERE ") +
                     where);
    st.bind(1, key);
    if (!st.step()) return std::nullopt;
    return Stored{
        {st.integer(0), st.text(1), st.integer(2), static_cast<std::uint32_t>(st.integer(3))},
        {st.integer(5), st.integer(6), st.integer(7), st.integer(8), st.integer(9),
         st.integer(10) != 0, st.integer(4) != 0, std::time(nullptr)}};
}

// True when user id is of level 4 and no other level-4 user could log in:
// each is locked or locked out.
bool lastUsableAdministrator(Connection& d, std::int64_t id, std::int64_t now) {
    Statement st(d,
                 "SELECT 1 FROM users WHERE id = ?1 AND level = 4 AND NOT EXISTS (SELECT 1 FROM "
                 "users WHERE level = 4 AND id <> ?1 AND locked = 0 AND locked_until <= ?2)");
    st.bind(1, id).bind(2, now);
    return st.step();
}

// A password proven right: the failures counted before no longer count.
void clearFailures(Connection& d, std::int64_t id) {
    Statement st(d, "UPDATE users SET fail_count = 0, fail_first = 0, lock_count = 0 WHERE id = ?");
    st.bind(1, id).step();
}

void note(Change& change, const std::string& what) {
    change.detail += (change.detail.empty() ? "" : "; ") + what;
}

bool itemExists(Connection& d, const std::string& name) {
    Statement st(d, "SELECT 1 FROM limits WHERE name = ?");
    st.bind(1, name);
    return st.step();
}

bool userHolds(Connection& d, std::int64_t userId, const std::string& item) {
    Statement st(d,
                 "SELECT u.mask, (SELECT count(*) FROM limits o WHERE o.id < l.id) "
                 "FROM users u, limits l WHERE u.id = ? AND l.name = ?");
    st.bind(1, userId).bind(2, item);
    if (!st.step()) return false;
    return ((static_cast<std::uint32_t>(st.integer(0)) >> st.integer(1)) & 1u) != 0;
}

Status refuse(Change& change, const std::string& why) {
    note(change, "refused: " + why);
    return Status::Denied;
}

bool ruled(const Acting& who) {
    return who.enforceRules && !who.admin;
}

bool guardsLastAdministrator(const Acting& who) {
    return who.enforceRules || who.admin;
}

std::vector<UserRow> userRows(Connection& db) {
    std::vector<UserRow> out;
    Statement st(db, "SELECT name, level, mask FROM users ORDER BY id");
    while (st.step())
        out.push_back({st.text(0), st.integer(1), static_cast<std::uint32_t>(st.integer(2))});
    return out;
}

std::vector<ItemRow> itemRows(Connection& db) {
    std::vector<ItemRow> out;
    Statement st(db, "SELECT name, title FROM limits ORDER BY id");
    while (st.step()) out.push_back({st.text(0), st.text(1)});
    return out;
}

void checkInvariants(Connection& db, std::vector<std::string>& problems) {
    const auto expected = db.currentSchemaVersion();
    const auto version = db.schemaVersion();
    if (version != expected)
        problems.push_back("schema version " + std::to_string(version) + ", expected " +
                           std::to_string(expected));
    // What the rows as read cannot show: a mask is read as 32 bits.
    if (const auto n =
            queryInt(db, "SELECT count(*) FROM users WHERE mask NOT BETWEEN 0 AND 4294967295");
        n != 0)
        problems.push_back(std::to_string(n) + " user(s) with a mask outside 32 bits");
    // A store not yet upgraded (read-only here) may have no chain to check.
    if (version >= db.firstChainedVersion()) {
        try {
            if (const auto broken = verifyChain(db))
                problems.push_back("audit trail broken at " + broken->reason);
        } catch (const DbError& e) {
            problems.push_back(std::string("audit trail not verified: ") + e.what());
        }
    }
    checkRows(userRows(db), itemRows(db), problems);
}

}  // namespace

// ---- transactions -------------------------------------------------------------

template <class Body>
auto SqlBackend::read(Body body) {
    return inTransaction(*m_db, TxKind::Read, body);
}

// The body's outcome and its audit row in one transaction.
template <class Body>
Status SqlBackend::write(const Acting& who, Change& change, Body body) {
    const Change asked = change;
    return inTransaction(*m_db, TxKind::Write, [&] {
        change = asked;
        return audited(who, change, body);
    });
}

template <class Body>
Status SqlBackend::audited(const Acting& who, Change& change, Body body) {
    // Before the body: a user who deletes themselves still acted.
    change.actor = actorName(who);
    const Status status = body();
    appendAudit(*m_db, {change.actor, change.action, change.target,
                        change.detail.empty() ? std::nullopt : std::optional(change.detail),
                        outcomeName(status), who.caller.osUser, who.caller.pid, who.caller.host,
                        std::nullopt});
    return status;
}

template <class Body>
Status SqlBackend::batch(const Acting& who, Change& change, std::vector<Change>& rows,
                         std::size_t& failedAt, Body body) {
    return allOrNothing(
        *m_db, rows,
        [&](std::size_t i, Change& row) { return audited(who, row, [&] { return body(i, row); }); },
        [&](std::size_t i, Status status) {
            failedAt = i;
            noteRefusedEntry(change, rows, i);
            return record(who, change, status);
        });
}

// Who acts: the admin command's operating-system user; else the logged-in
// user, by the last name known once they are gone.
std::optional<std::string> SqlBackend::actorName(const Acting& who) {
    if (who.admin) return who.admin;
    if (who.userId == 0) return std::nullopt;
    if (auto live = accountWhere(*m_db, "id = ?", who.userId)) return live->name;
    if (who.userName.empty()) return std::nullopt;
    return who.userName;
}

// ---- the rules ------------------------------------------------------------------

// May the logged-in user add, change, delete or clear the password of a user
// of targetLevel? Levels compare unsigned, as the program compares them.
Status SqlBackend::mayManage(const Acting& who, std::uint32_t targetLevel, bool qorvelMay,
                             Change& change) {
    if (!ruled(who)) return Status::Ok;
    const auto self = who.userId != 0 ? accountWhere(*m_db, "id = ?", who.userId) : std::nullopt;
    if (!self) return refuse(change, "nobody logged in");
    const auto ownLevel = static_cast<std::uint32_t>(self->level);
    if (targetLevel < ownLevel) return Status::Ok;
    if (qorvelMay && self->name == QORVEL_USER) return Status::Ok;
    return refuse(change, "level " + std::to_string(targetLevel) + " not below own level " +
                              std::to_string(ownLevel));
}

// Items the logged-in user does not hold keep their bits; bits past the
// item list carry no item and pass.
Status SqlBackend::mayGrant(const Acting& who, std::uint32_t oldMask, std::uint32_t newMask,
                            Change& change) {
    if (!ruled(who)) return Status::Ok;
    const auto self = accountWhere(*m_db, "id = ?", who.userId);
    const std::uint32_t held = self ? self->mask : 0;
    const auto items = queryInt(*m_db, "SELECT count(*) FROM limits");
    for (std::int64_t i = 0; i < items && i < KEYWARD_MAX_LIMITS; ++i) {
        const std::uint32_t bit = 1u << i;
        if ((held & bit) != 0 || (oldMask & bit) == (newMask & bit)) continue;
        return refuse(change, "item " + std::to_string(i) + " not held");
    }
    return Status::Ok;
}

Status SqlBackend::mayMaintainItems(const Acting& who, Change& change) {
    if (!ruled(who) || (who.userId != 0 && userHolds(*m_db, who.userId, SYS_LIMIT_NAME)))
        return Status::Ok;
    return refuse(change, "sys_limit not held");
}

// ---- reads ------------------------------------------------------------------------

std::optional<Credentials> SqlBackend::credentials(const std::string& name) {
    return read([&] { return credentialsOf(*m_db, name); });
}

std::optional<Account> SqlBackend::account(std::int64_t id) {
    return read([&] { return accountWhere(*m_db, "id = ?", id); });
}

std::optional<Account> SqlBackend::account(const std::string& name) {
    return read([&] { return accountWhere(*m_db, "name = ?", name); });
}

bool SqlBackend::holds(std::int64_t userId, const std::string& item) {
    return read([&] { return userHolds(*m_db, userId, item); });
}

int SqlBackend::countUsers() {
    return read([&] { return static_cast<int>(queryInt(*m_db, "SELECT count(*) FROM users")); });
}

void SqlBackend::listUsers(int count, UserRecord* out) {
    read([&] {
        Statement st(*m_db, "SELECT name, level, mask FROM users ORDER BY id LIMIT ?");
        st.bind(1, count);
        for (int i = 0; i < count && st.step(); ++i)
            fillUser(out[i], st.text(0), st.integer(1), st.integer(2));
        return 0;
    });
}

int SqlBackend::countItems() {
    return read([&] { return static_cast<int>(queryInt(*m_db, "SELECT count(*) FROM limits")); });
}

void SqlBackend::listItems(int count, LimitRecord* out) {
    read([&] {
        Statement st(*m_db, "SELECT name, title FROM limits ORDER BY id LIMIT ?");
        st.bind(1, count);
        fillItems(st, count, out);
        return 0;
    });
}

std::optional<std::string> SqlBackend::itemTitle(const std::string& name) {
    return read([&]() -> std::optional<std::string> {
        Statement st(*m_db, "SELECT title FROM limits WHERE name = ?");
        st.bind(1, name);
        return st.step() ? std::optional(st.text(0)) : std::nullopt;
    });
}

unsigned long SqlBackend::hashCost() {
    return read([&]() -> unsigned long {
        Statement st(*m_db, "SELECT value FROM settings WHERE key = 'hash_cost'");
        if (st.step())
            if (const auto cost = parseHashCost(st.text(0))) return *cost;
        return 0;
    });
}

std::vector<UserRow> SqlBackend::users() {
    return read([&] { return userRows(*m_db); });
}

std::vector<ItemRow> SqlBackend::items() {
    return read([&] { return itemRows(*m_db); });
}

std::optional<LoginState> SqlBackend::loginState(const std::string& name) {
    return read([&]() -> std::optional<LoginState> {
        const auto user = storedWhere(*m_db, "name = ?", name);
        if (!user) return std::nullopt;
        return user->state;
    });
}

std::vector<AuditRow> SqlBackend::audit(const std::string& since) {
    return read([&] {
        std::vector<AuditRow> out;
        Statement st(*m_db,
                     "SELECT " + auditColumns(*m_db) + " FROM audit WHERE at >= ? ORDER BY id");
        st.bind(1, since);
        while (st.step())
            out.push_back({st.text(1), st.optText(2), st.text(3), st.optText(4), st.optText(5),
                           st.text(6), st.optText(8), st.integer(7), st.optText(9),
                           st.optText(10)});
        return out;
    });
}

CheckReport SqlBackend::check() {
    return read([&] {
        CheckReport out;
        out.location = m_db->path();
        out.problems = m_db->integrityProblems();
        checkInvariants(*m_db, out.problems);
        out.users = queryInt(*m_db, "SELECT count(*) FROM users");
        out.items = queryInt(*m_db, "SELECT count(*) FROM limits");
        return out;
    });
}

void SqlBackend::snapshot(const std::string& file) {
    m_db->backupInto(file);
}

// ---- writes -------------------------------------------------------------------------

Status SqlBackend::record(const Acting& who, Change& change, Status outcome) {
    return write(who, change, [&] { return outcome; });
}

Status SqlBackend::verdict(const Acting& who, Change& change, Check check, const std::string& name,
                           const std::optional<Credentials>& seen, Status verdict,
                           const Policy& policy) {
    return write(who, change, [&] {
        if (credentialsOf(*m_db, name) != seen) throw Stale{};
        if (!seen) return verdict;
        const auto user = storedWhere(*m_db, "id = ?", seen->id);
        const Status decided = policyVerdict(policy, user->state, check == Check::Login, verdict);
        if (decided == Status::AccountLocked) return decided;
        if (verdict == Status::BadPassword)
            countFailure(change, user->account, user->state, policy);
        else if (user->state.failures != 0 || user->state.locks != 0)
            clearFailures(*m_db, seen->id);
        return decided;
    });
}

// A wrong password under a policy with a lockout: deny of them within
// failInterval lock the account, each lock in a row twice as long as the
// one before; the last level-4 user who could log in never beyond
// unlockTime, or not at all.
void SqlBackend::countFailure(Change& change, const Account& user, const LoginState& state,
                              const Policy& policy) {
    if (policy.deny <= 0) return;
    const bool again = state.failures != 0 && state.now - state.firstFailure <= policy.failInterval;
    const std::int64_t count = again ? state.failures + 1 : 1;
    const std::int64_t first = again ? state.firstFailure : state.now;
    const bool last = count >= policy.deny && lastUsableAdministrator(*m_db, user.id, state.now);
    if (count >= policy.deny && (!last || policy.lockLastAdmin != 0)) {
        const long long seconds = last ? policy.unlockTime : lockSeconds(policy, state.locks);
        Statement st(*m_db,
                     "UPDATE users SET fail_count = 0, fail_first = 0, locked_until = ?, "
                     "lock_count = lock_count + 1 WHERE id = ?");
        st.bind(1, state.now + seconds).bind(2, user.id).step();
        note(change, "locked for " + std::to_string(seconds) + " s after " + std::to_string(count) +
                         " failed attempts");
        return;
    }
    if (count >= policy.deny)
        note(change, "not locked: the last level-4 user who can log in (" + std::to_string(count) +
                         " failed attempts)");
    Statement st(*m_db, "UPDATE users SET fail_count = ?, fail_first = ? WHERE id = ?");
    st.bind(1, count).bind(2, first).bind(3, user.id).step();
}

Status SqlBackend::insertUser(const Acting& who, Change& change, const std::string& name,
                              const std::string& hash, int level, std::uint32_t mask) {
    if (const Status rule = mayManage(who, static_cast<std::uint32_t>(level), false, change);
        rule != Status::Ok)
        return rule;
    if (const Status rule = mayGrant(who, 0, mask, change); rule != Status::Ok) return rule;
    if (accountWhere(*m_db, "name = ?", name)) return Status::NameTaken;
    // Its user did not choose the password.
    Statement st(*m_db,
                 "INSERT INTO users(name, level, mask, hash, pwd_set, must_change) "
                 "VALUES (?, ?, ?, ?, ?, 1)");
    st.bind(1, name).bind(2, level).bind(3, static_cast<std::int64_t>(mask)).bind(4, hash);
    st.bind(5, static_cast<std::int64_t>(std::time(nullptr)));
    st.step();
    return Status::Ok;
}

Status SqlBackend::addUser(const Acting& who, Change& change, const std::string& name,
                           const std::string& hash, int level, std::uint32_t mask) {
    return write(who, change, [&] { return insertUser(who, change, name, hash, level, mask); });
}

Status SqlBackend::addUsers(const Acting& who, Change& change, std::vector<Change>& rows,
                            const std::vector<NewAccount>& users, std::size_t& failedAt) {
    return batch(who, change, rows, failedAt, [&](std::size_t i, Change& row) {
        const NewAccount& u = users[i];
        return insertUser(who, row, u.name, u.hash, u.level, u.mask);
    });
}

Status SqlBackend::setHashes(const Acting& who, Change& change, std::vector<Change>& rows,
                             const std::vector<NewPassword>& entries, std::size_t& failedAt) {
    return batch(who, change, rows, failedAt, [&](std::size_t i, Change& row) {
        return newHash(who, row, NewHash::Set, entries[i].name, entries[i].hash, std::nullopt);
    });
}

Status SqlBackend::changeUser(const Acting& who, Change& change, const std::string& current,
                              const std::string& next, int level, std::uint32_t mask) {
    return write(who, change, [&] {
        const auto target = accountWhere(*m_db, "name = ?", current);
        if (!target) return Status::NoSuchUser;
        // The user edited, and the level given, both below the own level.
        if (const Status rule =
                mayManage(who, static_cast<std::uint32_t>(target->level), true, change);
            rule != Status::Ok)
            return rule;
        if (const Status rule = mayManage(who, static_cast<std::uint32_t>(level), false, change);
            rule != Status::Ok)
            return rule;
        if (const Status rule = mayGrant(who, target->mask, mask, change); rule != Status::Ok)
            return rule;
        if (guardsLastAdministrator(who) && level != 4 && lastAdministrator(*m_db, current))
            return Status::LastAdministrator;
        Statement taken(*m_db, "SELECT 1 FROM users WHERE name = ? AND id <> ?");
        taken.bind(1, next).bind(2, target->id);
        if (taken.step()) return Status::NameTaken;
        Statement st(*m_db, "UPDATE users SET name = ?, level = ?, mask = ? WHERE id = ?");
        st.bind(1, next)
            .bind(2, level)
            .bind(3, static_cast<std::int64_t>(mask))
            .bind(4, target->id);
        st.step();
        return Status::Ok;
    });
}

Status SqlBackend::deleteUser(const Acting& who, Change& change, const std::string& name) {
    return write(who, change, [&] {
        const auto target = accountWhere(*m_db, "name = ?", name);
        if (!target) return Status::NoSuchUser;
        if (const Status rule =
                mayManage(who, static_cast<std::uint32_t>(target->level), false, change);
            rule != Status::Ok)
            return rule;
        if (guardsLastAdministrator(who) && lastAdministrator(*m_db, name))
            return Status::LastAdministrator;
        Statement st(*m_db, "DELETE FROM users WHERE id = ?");
        st.bind(1, target->id);
        st.step();
        return Status::Ok;
    });
}

// A change keeps an account locked by an administrator locked (its new
// hash behind the marker); by its user, it proves the password and needs
// no change at the next login, set by anyone else it does.
Status SqlBackend::newHash(const Acting& who, Change& change, NewHash kind, const std::string& name,
                           const std::string& hash, const std::optional<Credentials>& seen) {
    const auto target = storedWhere(*m_db, "name = ?", name);
    const bool own = kind == NewHash::Change;
    if (own) {
        if (credentialsOf(*m_db, name) != seen) throw Stale{};
        // The old password proves enough; the service still wants a login.
        if (ruled(who) && !(who.userId != 0 && accountWhere(*m_db, "id = ?", who.userId)))
            return refuse(change, "nobody logged in");
    }
    if (!target) return Status::NoSuchUser;
    if (!own)
        if (const Status rule =
                mayManage(who, static_cast<std::uint32_t>(target->account.level), true, change);
            rule != Status::Ok)
            return rule;
    if (own && isLocked(target->state)) return Status::AccountLocked;
    Statement st(*m_db, "UPDATE users SET hash = ?, pwd_set = ?, must_change = ? WHERE id = ?");
    st.bind(1, (target->state.locked && !own ? "!" : "") + hash);
    st.bind(2, target->state.now).bind(3, own ? 0 : 1).bind(4, target->account.id);
    st.step();
    if (own) clearFailures(*m_db, target->account.id);
    return Status::Ok;
}

Status SqlBackend::setHash(const Acting& who, Change& change, NewHash kind, const std::string& name,
                           const std::string& hash, const std::optional<Credentials>& seen) {
    return write(who, change, [&] { return newHash(who, change, kind, name, hash, seen); });
}

template <class Body>
Status SqlBackend::writeManaged(const Acting& who, Change& change, const std::string& name,
                                Body body) {
    return write(who, change, [&] {
        const auto target = storedWhere(*m_db, "name = ?", name);
        if (!target) return Status::NoSuchUser;
        if (const Status rule =
                mayManage(who, static_cast<std::uint32_t>(target->account.level), true, change);
            rule != Status::Ok)
            return rule;
        return body(*target);
    });
}

Status SqlBackend::setLocked(const Acting& who, Change& change, const std::string& name,
                             bool lock) {
    return writeManaged(who, change, name, [&](const Stored& target) {
        const LoginState& state = target.state;
        if (lock ? state.locked : !isLocked(state)) {
            note(change, lock ? "already locked" : "not locked");
            return Status::Ok;
        }
        if (lock && lastUsableAdministrator(*m_db, target.account.id, state.now))
            return Status::LastAdministrator;
        Statement st(*m_db,
                     lock ? "UPDATE users SET locked = 1, hash = '!' || hash WHERE id = ?"
                          : "UPDATE users SET locked = 0, hash = CASE WHEN locked <> 0 THEN "
                            "substr(hash, 2) ELSE hash END, locked_until = 0, fail_count = 0, "
                            "fail_first = 0, lock_count = 0 WHERE id = ?");
        st.bind(1, target.account.id).step();
        return Status::Ok;
    });
}

Status SqlBackend::resetFailures(const Acting& who, Change& change, const std::string& name) {
    return writeManaged(who, change, name, [&](const Stored& target) {
        const LoginState& state = target.state;
        note(change, std::to_string(state.failures) + " failed attempt(s) cleared" +
                         (state.lockedUntil > state.now ? ", lockout lifted" : ""));
        Statement st(*m_db,
                     "UPDATE users SET fail_count = 0, fail_first = 0, locked_until = 0, "
                     "lock_count = 0 WHERE id = ?");
        st.bind(1, target.account.id).step();
        return Status::Ok;
    });
}

Status SqlBackend::addItem(const Acting& who, Change& change, const std::string& name,
                           const std::string& title, int& position) {
    return write(who, change, [&] {
        if (const Status rule = mayMaintainItems(who, change); rule != Status::Ok) return rule;
        if (itemExists(*m_db, name)) return Status::ItemExists;
        position = static_cast<int>(queryInt(*m_db, "SELECT count(*) FROM limits"));
        if (position >= KEYWARD_MAX_LIMITS) return Status::ItemsFull;
        Statement st(*m_db, "INSERT INTO limits(name, title) VALUES (?, ?)");
        st.bind(1, name).bind(2, title);
        st.step();
        return Status::Ok;
    });
}

Status SqlBackend::deleteItem(const Acting& who, Change& change, int pos) {
    return write(who, change, [&] {
        if (const Status rule = mayMaintainItems(who, change); rule != Status::Ok) return rule;
        if (pos < 0 || pos >= KEYWARD_MAX_LIMITS) return Status::NoSuchItem;
        Statement find(*m_db, "SELECT id, name FROM limits ORDER BY id LIMIT 1 OFFSET ?");
        find.bind(1, pos);
        if (!find.step()) return Status::NoSuchItem;
        change.target = find.text(1);
        // The item that lets its holders maintain the list stays, as the
        // program keeps it.
        if (ruled(who) && *change.target == SYS_LIMIT_NAME)
            return refuse(change, "sys_limit is never deleted");
        Statement del(*m_db, "DELETE FROM limits WHERE id = ?");
        del.bind(1, find.integer(0));
        del.step();
        // Masks refer to items by position: drop bit pos and move the bits
        // above it down, so no grant passes to the item that moves into its
        // place. All-ones means every item, present and future. Only the
        // mask is shifted: a server's literal 1 is 32 bits wide. A mask
        // without bits at or above pos stays as it is and is not rewritten.
        Statement shift(
            *m_db,
            "UPDATE users SET mask = (mask - (mask >> ?1 << ?1)) | (mask >> ?1 + 1 << ?1) "
            "WHERE mask <> 4294967295 AND (mask >> ?1) <> 0");
        shift.bind(1, pos);
        shift.step();
        return Status::Ok;
    });
}

Status SqlBackend::initialise(const Acting& who, Change& change, const std::string& name,
                              const std::string& hash, unsigned long cost) {
    return write(who, change, [&] {
        if (ruled(who)) return refuse(change, "not an administrator");
        if (queryInt(*m_db, "SELECT count(*) FROM users") > 0) return Status::UsersExist;
        Statement item(*m_db,
                       "INSERT INTO limits(name, title) SELECT ?1, ?2 "
                       "WHERE NOT EXISTS (SELECT 1 FROM limits WHERE name = ?1)");
        item.bind(1, SYS_LIMIT_NAME).bind(2, kSysLimitTitleUtf8);
        item.step();
        Statement st(*m_db,
                     "INSERT INTO users(name, level, mask, hash, pwd_set, must_change) "
                     "VALUES (?, 4, ?, ?, ?, 1)");
        st.bind(1, name).bind(2, static_cast<std::int64_t>(kAllItems)).bind(3, hash);
        st.bind(4, static_cast<std::int64_t>(std::time(nullptr)));
        st.step();
        if (cost != 0) {
            Statement setting(*m_db,
                              "INSERT INTO settings(key, value) VALUES ('hash_cost', ?) "
                              "ON CONFLICT (key) DO UPDATE SET value = excluded.value");
            setting.bind(1, std::to_string(cost));
            setting.step();
        }
        return Status::Ok;
    });
}

}  // namespace keyward
