#include "server_backend.h"

#include <charconv>

#include "password.h"
#include "text.h"

namespace keyward {

namespace {

std::optional<std::string> number(std::int64_t n) {
    return std::to_string(n);
}

std::optional<std::string> hashOf(const std::optional<Credentials>& seen) {
    if (!seen) return std::nullopt;
    return seen->hash;
}

std::optional<std::string> idOf(const std::optional<Credentials>& seen) {
    if (!seen) return std::nullopt;
    return number(seen->id);
}

const char* kindName(NewHash kind) {
    switch (kind) {
        case NewHash::Change:
            return "change";
        case NewHash::Clear:
            return "clear";
        case NewHash::Set:
            return "set";
    }
    return "";
}

// The user list as keyward_users sends it: "LENGTH:NAME;LEVEL;MASK;" for
// each user in list order.
class UserList {
public:
    explicit UserList(std::string text) : m_text(std::move(text)) {}

    // The next user; false at the end. Throws DbError for a malformed list.
    bool next(std::string_view& name, std::int64_t& level, std::int64_t& mask) {
        if (m_at == m_text.size()) return false;
        const auto length = static_cast<std::size_t>(number(':'));
        if (length > m_text.size() - m_at) malformed();
        name = std::string_view(m_text).substr(m_at, length);
        m_at += length;
        if (m_text[m_at++] != ';') malformed();
        level = number(';');
        mask = number(';');
        return true;
    }

private:
    std::int64_t number(char end) {
        std::int64_t value = 0;
        const char* first = m_text.data() + m_at;
        const char* last = m_text.data() + m_text.size();
        const auto [stop, error] = std::from_chars(first, last, value);
        if (error != std::errc() || stop == last || *stop != end) malformed();
        m_at = static_cast<std::size_t>(stop - m_text.data()) + 1;
        return value;
    }
    [[noreturn]] static void malformed() {
        throw DbError(Fault::Failed, "the server's user list is malformed");
    }

    std::string m_text;
    std::size_t m_at = 0;
};

// The first limit users (nullopt: all).
UserList userList(Connection& db, const std::optional<std::string>& limit) {
    Statement st(db, "SELECT keyward_users(?)");
    st.bind(1, limit);
    st.step();
    return UserList(st.text(0));
}

}  // namespace

ServerBackend::ServerBackend(std::unique_ptr<ServerConnection> db)
    : m_db(std::move(db)), m_version(m_db->schemaVersion()) {}

void ServerBackend::requireFunctions() {
    if (m_version < kServerSchemaVersion)
        throw DbError(Fault::Unavailable,
                      m_db->path() + ": the store has schema " + std::to_string(m_version) +
                          " of " + std::to_string(kServerSchemaVersion) +
                          "; its owner brings it up to date with keyward migrate --upgrade");
}

template <class Body>
auto ServerBackend::read(Body body) {
    requireFunctions();
    return inTransaction(*m_db, TxKind::Read, body);
}

Status ServerBackend::write(const Acting& who, Change& change, const char* function,
                            const std::vector<Value>& args, int* position) {
    requireFunctions();
    std::string sql = std::string("SELECT outcome, actor, target, detail, item_position FROM ") +
                      function +
                      "(ROW(?::BIGINT, ?::TEXT, ?::TEXT, ?::BOOLEAN, ?::TEXT, ?::BIGINT, ?::TEXT, "
                      "?::TEXT, ?::TEXT, ?::TEXT, NULL)::keyward_call";
    for (std::size_t i = 0; i < args.size(); ++i) sql += ", ?";
    sql += ")";
    const Change asked = change;
    return inTransaction(*m_db, TxKind::Write, [&] {
        change = asked;
        Statement st(*m_db, sql);
        st.bind(1, who.userId).bind(2, who.userName).bind(3, who.admin);
        st.bind(4, who.enforceRules ? 1 : 0).bind(5, who.caller.osUser).bind(6, who.caller.pid);
        st.bind(7, who.caller.host).bind(8, change.action).bind(9, change.target);
        st.bind(10, change.detail);
        for (std::size_t i = 0; i < args.size(); ++i) st.bind(static_cast<int>(i) + 11, args[i]);
        st.step();
        const std::string outcome = st.text(0);
        if (outcome == "stale") throw Stale{};
        const auto status = fromOutcome(outcome);
        if (!status) throw DbError(Fault::Failed, std::string(function) + " answered " + outcome);
        change.actor = st.optText(1);
        change.target = st.optText(2);
        change.detail = st.text(3);
        if (position != nullptr && st.optText(4)) *position = static_cast<int>(st.integer(4));
        return *status;
    });
}

// ---- reads ------------------------------------------------------------------------

std::optional<Credentials> ServerBackend::credentials(const std::string& name) {
    return read([&]() -> std::optional<Credentials> {
        Statement st(*m_db, "SELECT id, hash FROM keyward_credentials(?)");
        st.bind(1, name);
        if (!st.step()) return std::nullopt;
        return Credentials{st.integer(0), st.text(1)};
    });
}

std::optional<Account> ServerBackend::accountBy(const char* function, const Value& key) {
    return read([&]() -> std::optional<Account> {
        Statement st(*m_db, std::string("SELECT id, name, level, mask FROM ") + function + "(?)");
        st.bind(1, key);
        if (!st.step()) return std::nullopt;
        return Account{st.integer(0), st.text(1), st.integer(2),
                       static_cast<std::uint32_t>(st.integer(3))};
    });
}

std::optional<Account> ServerBackend::account(std::int64_t id) {
    return accountBy("keyward_account_by_id", number(id));
}

std::optional<Account> ServerBackend::account(const std::string& name) {
    return accountBy("keyward_account_by_name", name);
}

bool ServerBackend::holds(std::int64_t userId, const std::string& item) {
    return read([&] {
        Statement st(*m_db, "SELECT keyward_holds(?, ?)");
        st.bind(1, userId).bind(2, item);
        return st.step() && st.integer(0) != 0;
    });
}

int ServerBackend::countUsers() {
    return read([&] { return static_cast<int>(queryInt(*m_db, "SELECT keyward_user_count()")); });
}

void ServerBackend::listUsers(int count, UserRecord* out) {
    read([&] {
        UserList list = userList(*m_db, number(count));
        std::string_view name;
        std::int64_t level = 0, mask = 0;
        for (int i = 0; i < count && list.next(name, level, mask); ++i)
            fillUser(out[i], name, level, mask);
        return 0;
    });
}

int ServerBackend::countItems() {
    return read([&] { return static_cast<int>(queryInt(*m_db, "SELECT keyward_item_count()")); });
}

void ServerBackend::listItems(int count, LimitRecord* out) {
    read([&] {
        Statement st(*m_db, "SELECT name, title FROM keyward_items(?)");
        st.bind(1, count);
        fillItems(st, count, out);
        return 0;
    });
}

std::optional<std::string> ServerBackend::itemTitle(const std::string& name) {
    return read([&] {
        Statement st(*m_db, "SELECT keyward_item_title(?)");
        st.bind(1, name);
        st.step();
        return st.optText(0);
    });
}

unsigned long ServerBackend::hashCost() {
    return read([&]() -> unsigned long {
        Statement st(*m_db, "SELECT keyward_hash_cost()");
        if (st.step())
            if (const auto text = st.optText(0))
                if (const auto cost = parseHashCost(*text)) return *cost;
        return 0;
    });
}

std::vector<UserRow> ServerBackend::userRows(const Value& limit) {
    std::vector<UserRow> out;
    UserList list = userList(*m_db, limit);
    std::string_view name;
    std::int64_t level = 0, mask = 0;
    while (list.next(name, level, mask))
        out.push_back({std::string(name), level, static_cast<std::uint32_t>(mask)});
    return out;
}

std::vector<ItemRow> ServerBackend::itemRows(const Value& limit) {
    std::vector<ItemRow> out;
    Statement st(*m_db, "SELECT name, title FROM keyward_items(?)");
    st.bind(1, limit);
    while (st.step()) out.push_back({st.text(0), st.text(1)});
    return out;
}

std::vector<UserRow> ServerBackend::users() {
    return read([&] { return userRows(std::nullopt); });
}

std::vector<ItemRow> ServerBackend::items() {
    return read([&] { return itemRows(std::nullopt); });
}

std::vector<AuditRow> ServerBackend::audit(const std::string& since) {
    return read([&] {
        std::vector<AuditRow> out;
        Statement st(*m_db,
                     "SELECT at, actor, action, target, detail, outcome, pid, os_user, host, "
                     "address FROM keyward_audit(?)");
        st.bind(1, since);
        while (st.step())
            out.push_back({st.text(0), st.optText(1), st.text(2), st.optText(3), st.optText(4),
                           st.text(5), st.optText(7), st.integer(6), st.optText(8), st.optText(9)});
        return out;
    });
}

CheckReport ServerBackend::check() {
    CheckReport out;
    out.location = m_db->path();
    out.warnings = m_db->credentialWarnings();
    for (auto& warning : m_db->placementWarnings()) out.warnings.push_back(std::move(warning));
    if (m_version != kServerSchemaVersion) {
        out.problems.push_back("schema version " + std::to_string(m_version) + ", expected " +
                               std::to_string(kServerSchemaVersion) +
                               "; its owner brings it up to date with keyward migrate --upgrade");
        return out;
    }
    read([&] {
        out.problems = m_db->integrityProblems();
        const auto users = userRows(std::nullopt);
        const auto items = itemRows(std::nullopt);
        checkRows(users, items, out.problems);
        out.users = static_cast<std::int64_t>(users.size());
        out.items = static_cast<std::int64_t>(items.size());
        return 0;
    });
    // In a transaction of its own: a trail that cannot be verified (its key
    // gone) ends the transaction it fails in.
    try {
        read([&] {
            Statement st(*m_db, "SELECT reason FROM keyward_verify_chain()");
            if (st.step()) out.problems.push_back("audit trail broken at " + st.text(0));
            return 0;
        });
    } catch (const DbError& e) {
        out.problems.push_back(std::string("audit trail not verified: ") + e.what());
    }
    return out;
}

void ServerBackend::snapshot(const std::string& file) {
    try {
        m_db->backupInto(file);
    } catch (const DbError& e) {
        if (e.fault() != Fault::ReadOnly) throw;
        throw DbError(Fault::Failed,
                      "a server store is copied by its owner, whose role reads "
                      "the tables (" +
                          std::string(e.what()) + ")");
    }
}

// ---- writes -------------------------------------------------------------------------

Status ServerBackend::record(const Acting& who, Change& change, Status outcome) {
    return write(who, change, "keyward_record", {outcomeName(outcome)});
}

Status ServerBackend::login(const Acting& who, Change& change, const std::string& name,
                            const std::optional<Credentials>& seen, Status verdict) {
    return write(who, change, "keyward_login",
                 {name, idOf(seen), hashOf(seen), outcomeName(verdict)});
}

Status ServerBackend::addUser(const Acting& who, Change& change, const std::string& name,
                              const std::string& hash, int level, std::uint32_t mask) {
    return write(who, change, "keyward_add_user", {name, hash, number(level), number(mask)});
}

Status ServerBackend::changeUser(const Acting& who, Change& change, const std::string& current,
                                 const std::string& next, int level, std::uint32_t mask) {
    return write(who, change, "keyward_change_user", {current, next, number(level), number(mask)});
}

Status ServerBackend::deleteUser(const Acting& who, Change& change, const std::string& name) {
    return write(who, change, "keyward_delete_user", {name});
}

Status ServerBackend::setHash(const Acting& who, Change& change, NewHash kind,
                              const std::string& name, const std::string& hash,
                              const std::optional<Credentials>& seen) {
    return write(who, change, "keyward_set_hash",
                 {kindName(kind), name, hash, idOf(seen), hashOf(seen)});
}

Status ServerBackend::addItem(const Acting& who, Change& change, const std::string& name,
                              const std::string& title, int& position) {
    return write(who, change, "keyward_add_item", {name, title}, &position);
}

Status ServerBackend::deleteItem(const Acting& who, Change& change, int position) {
    return write(who, change, "keyward_delete_item", {number(position)});
}

Status ServerBackend::initialise(const Acting& who, Change& change, const std::string& name,
                                 const std::string& hash, unsigned long cost) {
    return write(who, change, "keyward_initialise",
                 {name, hash, number(static_cast<std::int64_t>(cost))});
}

}  // namespace keyward
