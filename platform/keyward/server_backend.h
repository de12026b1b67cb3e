// The store's calls on a server: each one a call of the server's own
// function for it (server_schema.cpp), which checks the arguments and the
// rules, makes the change and writes the audit row, with the address the
// server sees the station at, in one transaction. A station's role runs
// those functions and touches no table; the owner's tools (copies, checks of
// the catalog) use the connection itself.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "backend.h"
#include "server_connection.h"

namespace keyward {

class ServerBackend final : public Backend {
public:
    explicit ServerBackend(std::unique_ptr<ServerConnection> db);

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
    CheckReport check() override;
    void snapshot(const std::string& file) override;

    Status record(const Acting& who, Change& change, Status outcome) override;
    Status login(const Acting& who, Change& change, const std::string& name,
                 const std::optional<Credentials>& seen, Status verdict) override;
    Status addUser(const Acting& who, Change& change, const std::string& name,
                   const std::string& hash, int level, std::uint32_t mask) override;
    Status changeUser(const Acting& who, Change& change, const std::string& current,
                      const std::string& next, int level, std::uint32_t mask) override;
    Status deleteUser(const Acting& who, Change& change, const std::string& name) override;
    Status setHash(const Acting& who, Change& change, NewHash kind, const std::string& name,
                   const std::string& hash, const std::optional<Credentials>& seen) override;
    Status addItem(const Acting& who, Change& change, const std::string& name,
                   const std::string& title, int& position) override;
    Status deleteItem(const Acting& who, Change& change, int position) override;
    Status initialise(const Acting& who, Change& change, const std::string& name,
                      const std::string& hash, unsigned long cost) override;

private:
    // An argument of a function: a text, or NULL.
    using Value = std::optional<std::string>;

    template <class Body>
    auto read(Body body);
    // Calls function(who and change, then args) in a write transaction and
    // takes over what its audit row said; position: an added item's place.
    Status write(const Acting& who, Change& change, const char* function,
                 const std::vector<Value>& args, int* position = nullptr);
    std::optional<Account> accountBy(const char* function, const Value& key);
    std::vector<UserRow> userRows(const Value& limit);
    std::vector<ItemRow> itemRows(const Value& limit);
    // An older schema has none of the functions: its owner upgrades it.
    void requireFunctions();

    std::unique_ptr<ServerConnection> m_db;
    std::int64_t m_version;
};

}  // namespace keyward
