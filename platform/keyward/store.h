// The account store behind the C call interface: one per process.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "audit.h"
#include "database.h"
#include "store/keyward.h"
#include "text.h"

namespace keyward {

enum class Status {
    Ok,
    NoSuchUser,
    BadPassword,
    NullArgument,
    InvalidText,
    TooLong,
    EmptyText,
    NameTaken,
    BadLevel,
    NoSuchItem,
    ItemExists,
    ItemsFull,
    NotCounted,
    UsersExist,
    HashFailed,
    Busy,
    Unavailable,
    LastAdministrator,
};

// The call interface's result code, as named in store/keyward.h.
int toCode(Status status);
// The outcome as written into the audit trail.
const char* outcomeName(Status status);
// One line for people (the admin command's messages).
const char* describe(Status status);

// Whether a store that cannot start says so on standard error too (the
// library does; the admin command reports failures itself).
enum class Announce { SystemLogOnly, AlsoStderr };

class Store {
public:
    explicit Store(Announce announce = Announce::SystemLogOnly) : m_announce(announce) {}
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;
    ~Store();

    // All texts are CP936, as at the call interface.
    void start();
    void stop();

    Status login(const char* name, const char* password);
    const char* currentName();
    Status currentNameInto(char* buf);
    int level(const char* user);
    std::uint32_t mask(const char* user);
    bool holds(const char* item, const char* user);

    int listUsers(UserRecord* buf);
    Status addUser(const char* name, const char* password, int level, std::uint32_t mask);
    Status changeUser(const char* curName, const char* newName, int level, std::uint32_t mask);
    Status deleteUser(const char* name);
    Status changePassword(const char* name, const char* oldPassword, const char* newPassword);
    Status clearPassword(const char* name);

    int listLimits(LimitRecord* buf);
    Status limitTitle(const char* name, char* buf);
    // The new item's position, or the reason it was not added.
    int addLimit(const char* name, const char* title);
    Status deleteLimit(int pos);

    // For the admin command: the first administrator, level 4, every item,
    // and "sys_limit" registered; refused once users exist. A hashCost other
    // than 0 becomes the store's setting for every later password.
    Status initialise(const char* adminName, const char* password, unsigned long hashCost = 0);
    // A new password without the old one: the way back in.
    Status setPassword(const char* name, const char* password);
    // For the admin command, which acts without a login: audit rows name
    // actor (UTF-8) as the acting user, and no change or deletion may leave
    // the store without its last level-4 user.
    void actAsAdministrator(std::string actor);
    // Why the latest call that found the store unavailable did, "" before one.
    const std::string& unavailableReason() const { return m_unavailable; }

private:
    struct Audit {
        const char* action;
        std::optional<std::string> target;  // UTF-8
        std::string detail;
        bool typedName = false;  // target is what was typed at a login: kept out when unsure
    };
    // What a password is checked against: the user's row as last read.
    struct Credentials {
        std::int64_t id;
        std::string hash;
        bool operator==(const Credentials&) const = default;
    };

    Database& db();
    void close();
    template <class Body>
    Status write(Audit audit, Body body);
    template <class Body>
    auto read(Body body, decltype(body(std::declval<Database&>())) failed);
    template <class Body>
    Status verified(const Audit& audit, const TextArg& name, const TextArg& password, Body body);
    std::optional<Credentials> credentials(Database& d, const TextArg& name);
    std::optional<std::string> liveName(Database& d);
    std::optional<std::string> actorName(Database& d);
    std::optional<std::int64_t> userId(Database& d, const char* user);
    std::optional<std::string> hashFor(const TextArg& password, Status& status,
                                       unsigned long cost = 0);
    void unavailable(const std::string& why);

    std::mutex m_mutex;
    std::unique_ptr<Database> m_db;
    pid_t m_pid = 0;
    Announce m_announce;
    std::string m_reported;     // the last reason the store could not start
    std::string m_unavailable;  // the latest reason, reported or not
    std::int64_t m_userId = 0;  // 0: nobody logged in
    std::string m_userName;     // UTF-8, kept for the audit once that user is gone
    int m_userCount = -1;       // last count reported, -1: none yet
    std::optional<std::string> m_adminActor;
    int m_limitCount = -1;
    char m_curName[32] = {};  // get_cur_user's answer; a fixed buffer so old pointers stay valid
};

Store& theStore();

}  // namespace keyward
