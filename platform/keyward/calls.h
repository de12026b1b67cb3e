// What a caller may ask of the store: the C interface's calls and the admin
// command's. Served in process by Store (the personal store) or by the
// account service through ServiceClient (the system store); the C calls and
// the admin command use this interface and cannot tell which.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "status.h"
#include "store/keyward.h"

namespace keyward {

// Rows for the admin command, texts as stored (UTF-8).
struct UserRow {
    std::string name;
    std::int64_t level = 0;
    std::uint32_t mask = 0;
};

struct ItemRow {
    std::string name;
    std::string title;
};

struct AuditRow {
    std::string at;
    std::optional<std::string> actor;
    std::string action;
    std::optional<std::string> target;
    std::optional<std::string> detail;
    std::string outcome;
    std::optional<std::string> osUser;
    std::int64_t pid = 0;
    std::optional<std::string> host;
    // The station's address as a server saw it ("local" over its socket).
    std::optional<std::string> address;
};

struct CheckReport {
    std::string location;               // the store checked, a server's without its password
    std::vector<std::string> problems;  // each one line; none: the store is sound
    // What is sound but unwise, such as a readable credential or a second
    // server taking writes; each one line.
    std::vector<std::string> warnings;
    std::int64_t users = 0;
    std::int64_t items = 0;
};

class Calls {
public:
    virtual ~Calls() = default;

    virtual void start() = 0;
    // Forgets the logged-in user and closes the store.
    virtual void stop() = 0;

    // ---- the C interface (store/keyward.h); texts are CP936 ----
    virtual Status login(const char* name, const char* password) = 0;
    virtual const char* currentName() = 0;
    virtual Status currentNameInto(char* buf) = 0;
    virtual int level(const char* user) = 0;
    virtual std::uint32_t mask(const char* user) = 0;
    virtual bool holds(const char* item, const char* user) = 0;
    virtual int listUsers(UserRecord* buf) = 0;
    virtual Status addUser(const char* name, const char* password, int level,
                           std::uint32_t mask) = 0;
    virtual Status changeUser(const char* curName, const char* newName, int level,
                              std::uint32_t mask) = 0;
    virtual Status deleteUser(const char* name) = 0;
    virtual Status changePassword(const char* name, const char* oldPassword,
                                  const char* newPassword) = 0;
    virtual Status clearPassword(const char* name) = 0;
    virtual int listLimits(LimitRecord* buf) = 0;
    virtual Status limitTitle(const char* name, char* buf) = 0;
    // The new item's position, or the reason's code.
    virtual int addLimit(const char* name, const char* title) = 0;
    virtual Status deleteLimit(int pos) = 0;

    // ---- the admin command's ----
    // Acts without a login from now on, audited as the operating-system user;
    // the account service grants it to root and the admin group alone.
    virtual Status actAsAdministrator() = 0;
    // The first administrator, level 4, every item, and "sys_limit"
    // registered; refused once users exist. A hashCost other than 0 becomes
    // the store's setting for every later password.
    virtual Status initialise(const char* adminName, const char* password,
                              unsigned long hashCost) = 0;
    // A new password without the old one: the way back in.
    virtual Status setPassword(const char* name, const char* password) = 0;
    virtual Status users(std::vector<UserRow>& out) = 0;
    virtual Status items(std::vector<ItemRow>& out) = 0;
    // Rows at or after since (UTC text, "" for all), oldest first.
    virtual Status audit(const std::string& since, std::vector<AuditRow>& out) = 0;
    virtual Status check(CheckReport& out) = 0;
    // A consistent copy of the whole store into the new SQLite file file
    // (its audit key beside it), while others go on using the store.
    virtual Status snapshot(const std::string& file) = 0;
    // The store's location for messages (a server's without its password).
    virtual std::string location() = 0;
    // Why the last admin call above failed, one line for people ("" when
    // the status says all).
    virtual std::string why() = 0;
};

}  // namespace keyward
