// The store's calls as SQL on one connection, the rules checked here: the
// backend of an SQLite file. A server runs the same calls in functions of
// its own (server_backend.h).
#pragma once

#include <memory>

#include "backend.h"
#include "connection.h"

namespace keyward {

class SqlBackend final : public Backend {
public:
    explicit SqlBackend(std::unique_ptr<Connection> db) : m_db(std::move(db)) {}

    std::string location() override { return m_db->path(); }
    bool broken() override { return m_db->broken(); }
    void abandon() override { m_db->abandon(); }

    std::optional<Credentials> credentials(const std::string& name) override;
    std::optional<Account> account(std::int64_t id) override;
    std::optional<Account> account(const std::string& name) override;
    bool holds(std::int64_t userId, const std::string& item) override;
    int countUsers() override;
    void listUsers(int count, UserRecord* out) override;
    int countItems() override;
    void listItems(int count, LimitRecord* out) override;
    std::optional<std::string> itemTitle(const std::string& name) override;
    unsigned long hashCost() override;
    std::vector<UserRow> users() override;
    std::vector<ItemRow> items() override;
    std::vector<AuditRow> audit(const std::string& since) override;
    std::optional<LoginState> loginState(const std::string& name) override;
    CheckReport check() override;
    void snapshot(const std::string& file) override;

    Status record(const Acting& who, Change& change, Status outcome) override;
    Status verdict(const Acting& who, Change& change, Check check, const std::string& name,
                   const std::optional<Credentials>& seen, Status verdict,
                   const Policy& policy) override;
    Status addUser(const Acting& who, Change& change, const std::string& name,
                   const std::string& hash, int level, std::uint32_t mask) override;
    Status changeUser(const Acting& who, Change& change, const std::string& current,
                      const std::string& next, int level, std::uint32_t mask) override;
    Status deleteUser(const Acting& who, Change& change, const std::string& name) override;
    Status setHash(const Acting& who, Change& change, NewHash kind, const std::string& name,
                   const std::string& hash, const std::optional<Credentials>& seen) override;
    Status addUsers(const Acting& who, Change& change, std::vector<Change>& rows,
                    const std::vector<NewAccount>& users, std::size_t& failedAt) override;
    Status setHashes(const Acting& who, Change& change, std::vector<Change>& rows,
                     const std::vector<NewPassword>& entries, std::size_t& failedAt) override;
    Status setLocked(const Acting& who, Change& change, const std::string& name,
                     bool lock) override;
    Status resetFailures(const Acting& who, Change& change, const std::string& name) override;
    Status addItem(const Acting& who, Change& change, const std::string& name,
                   const std::string& title, int& position) override;
    Status deleteItem(const Acting& who, Change& change, int position) override;
    Status initialise(const Acting& who, Change& change, const std::string& name,
                      const std::string& hash, unsigned long cost) override;

private:
    template <class Body>
    auto read(Body body);
    template <class Body>
    Status write(const Acting& who, Change& change, Body body);
    // A write on name's account by one who may manage it; body gets the
    // account as stored.
    template <class Body>
    Status writeManaged(const Acting& who, Change& change, const std::string& name, Body body);
    // A write's body with its audit row, inside a transaction already open.
    template <class Body>
    Status audited(const Acting& who, Change& change, Body body);
    // A batch's writes, all or none; the refusal alone in the trail.
    template <class Body>
    Status batch(const Acting& who, Change& change, std::vector<Change>& rows,
                 std::size_t& failedAt, Body body);
    // The bodies of the writes that batches share.
    Status insertUser(const Acting& who, Change& change, const std::string& name,
                      const std::string& hash, int level, std::uint32_t mask);
    Status newHash(const Acting& who, Change& change, NewHash kind, const std::string& name,
                   const std::string& hash, const std::optional<Credentials>& seen);
    void countFailure(Change& change, const Account& user, const LoginState& state,
                      const Policy& policy);
    std::optional<std::string> actorName(const Acting& who);
    // The rules, read in the write's own transaction.
    Status mayManage(const Acting& who, std::uint32_t targetLevel, bool qorvelMay, Change& change);
    Status mayGrant(const Acting& who, std::uint32_t oldMask, std::uint32_t newMask,
                    Change& change);
    Status mayMaintainItems(const Acting& who, Change& change);

    std::unique_ptr<Connection> m_db;
};

}  // namespace keyward
