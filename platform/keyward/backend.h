// The store's calls as the engine carries them out: one interface, an
// implementation per way of keeping the store. Each call is one
// transaction; a write also checks the rules (when asked to), makes the
// change and writes its audit row, all or nothing. Texts are UTF-8 and
// already checked; passwords arrive as hashes. Throws DbError when the
// store cannot be reached or is busy beyond its timeout.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "caller.h"
#include "calls.h"
#include "connection.h"
#include "status.h"

namespace keyward {

// Who acts in a write.
struct Acting {
    std::int64_t userId = 0;           // the logged-in user, 0 for nobody
    std::string userName;              // their name as last known, for the trail once gone
    std::optional<std::string> admin;  // acting without a login: "os:NAME"
    // The account service's second line: the logged-in user may manage
    // users below their own level only (changing and clearing also as
    // "qorvel"), grant only items they hold, maintain items only holding
    // sys_limit. Nobody, under the rules or as admin, leaves the store
    // without a level-4 user.
    bool enforceRules = false;
    Caller caller;
};

// One audited call: what the trail gets besides who asked. The backend
// fills actor and may fill target (a deleted item is named) and add to
// detail (a refusal's reason).
struct Change {
    const char* action;
    std::optional<std::string> target;
    std::string detail;
    std::optional<std::string> actor;
};

// What a password is checked against: the user's row as read.
struct Credentials {
    std::int64_t id;
    std::string hash;
    bool operator==(const Credentials&) const = default;
};

struct Account {
    std::int64_t id;
    std::string name;
    std::int64_t level;
    std::uint32_t mask;
};

// A verified change whose row moved since its password was checked: the
// check is made again.
struct Stale {};

enum class NewHash { Change, Clear, Set };

class Backend {
public:
    virtual ~Backend() = default;

    // The location, a server's without its password.
    virtual std::string location() = 0;
    // Lost: the next call needs another backend.
    virtual bool broken() = 0;
    // Leaves the connection for the parent of a fork.
    virtual void abandon() = 0;

    // ---- reads ----
    virtual std::optional<Credentials> credentials(const std::string& name) = 0;
    virtual std::optional<Account> account(std::int64_t id) = 0;
    virtual std::optional<Account> account(const std::string& name) = 0;
    virtual bool holds(std::int64_t userId, const std::string& item) = 0;
    virtual int countUsers() = 0;
    // The first count users in list order into out (count records).
    virtual void listUsers(int count, UserRecord* out) = 0;
    virtual int countItems() = 0;
    virtual void listItems(int count, LimitRecord* out) = 0;
    virtual std::optional<std::string> itemTitle(const std::string& name) = 0;
    // The store's yescrypt cost for new hashes (0: the built-in).
    virtual unsigned long hashCost() = 0;
    virtual std::vector<UserRow> users() = 0;
    virtual std::vector<ItemRow> items() = 0;
    virtual std::vector<AuditRow> audit(const std::string& since) = 0;
    virtual CheckReport check() = 0;
    // A consistent copy into file, an empty file made by the caller.
    virtual void snapshot(const std::string& file) = 0;

    // ---- writes ----
    // Only the audit row: a call refused before the store was asked.
    virtual Status record(const Acting& who, Change& change, Status outcome) = 0;
    // A login's verdict, while name's row is as seen (throws Stale).
    virtual Status login(const Acting& who, Change& change, const std::string& name,
                         const std::optional<Credentials>& seen, Status verdict) = 0;
    virtual Status addUser(const Acting& who, Change& change, const std::string& name,
                           const std::string& hash, int level, std::uint32_t mask) = 0;
    virtual Status changeUser(const Acting& who, Change& change, const std::string& current,
                              const std::string& next, int level, std::uint32_t mask) = 0;
    virtual Status deleteUser(const Acting& who, Change& change, const std::string& name) = 0;
    // A new hash for name. Change: the old password was checked against
    // seen, which must still be name's row (throws Stale); Clear and Set:
    // by someone who may manage name.
    virtual Status setHash(const Acting& who, Change& change, NewHash kind, const std::string& name,
                           const std::string& hash, const std::optional<Credentials>& seen) = 0;
    // position: where the new item went.
    virtual Status addItem(const Acting& who, Change& change, const std::string& name,
                           const std::string& title, int& position) = 0;
    virtual Status deleteItem(const Acting& who, Change& change, int position) = 0;
    // The first administrator; a cost other than 0 becomes the store's.
    virtual Status initialise(const Acting& who, Change& change, const std::string& name,
                              const std::string& hash, unsigned long cost) = 0;
};

// The backend for location: opens a connection as mode says. A file's
// calls run as SQL here (SqlBackend); a server's in its own functions
// (ServerBackend).
std::unique_ptr<Backend> openBackend(const std::string& location, OpenMode mode);

// The call interface's records from rows as stored: one user's, and the
// first count items from st's rows (name, title).
void fillUser(UserRecord& out, std::string_view name, std::int64_t level, std::int64_t mask);
void fillItems(Statement& st, int count, LimitRecord* out);

// The invariants of the rows as read, whatever keeps them: at most 32
// items, unique names, levels 0..4, texts that go back to CP936 within 31
// bytes. Each problem one line into problems.
void checkRows(const std::vector<UserRow>& users, const std::vector<ItemRow>& items,
               std::vector<std::string>& problems);

}  // namespace keyward
