// The account store in this process, on one backend connection. The
// program's personal store is one per process (theStore); the account
// service keeps one per client connection, with the caller the kernel names
// and the rules switched on.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "backend.h"
#include "caller.h"
#include "calls.h"
#include "connection.h"
#include "store/keyward.h"
#include "text.h"

namespace keyward {

// Whether a store that cannot start says so on standard error too (the
// library does; the admin command reports failures itself).
enum class Announce { SystemLogOnly, AlsoStderr };

struct StoreOptions {
    Announce announce = Announce::SystemLogOnly;
    // The location, or empty for where the configuration says (paths.h).
    std::string location;
    // Create for the program and the service; the admin command never
    // creates a store but through init, and reads without writing.
    OpenMode mode = OpenMode::Create;
    // The account service's second line behind the program's own checks:
    // the logged-in user may create, change, delete or clear the password of
    // users below their own level only (changing and clearing also as
    // "qorvel"), grant only items they hold, and maintain items only holding
    // "sys_limit"; nobody leaves the store without a level-4 user.
    bool enforceRules = false;
    // Who asks; unset: this process, as it names itself.
    std::optional<Caller> caller;
    // Told of each login the store answered: the name (UTF-8), the user's
    // row as read (nullopt: no such user) and the verdict. Must not throw.
    std::function<void(const std::string& name, const std::optional<Credentials>& seen,
                       Status verdict)>
        answered;
};

// Every audited call goes to the system log too, after its outcome is final.
void logEvent(const Change& change, const Caller& who, Status status);

class Store final : public Calls {
public:
    explicit Store(StoreOptions options = {});
    ~Store() override;

    void start() override;
    void stop() override;

    Status login(const char* name, const char* password) override;
    const char* currentName() override;
    Status currentNameInto(char* buf) override;
    int level(const char* user) override;
    std::uint32_t mask(const char* user) override;
    bool holds(const char* item, const char* user) override;

    int listUsers(UserRecord* buf) override;
    Status addUser(const char* name, const char* password, int level, std::uint32_t mask) override;
    Status changeUser(const char* curName, const char* newName, int level,
                      std::uint32_t mask) override;
    Status deleteUser(const char* name) override;
    Status changePassword(const char* name, const char* oldPassword,
                          const char* newPassword) override;
    Status clearPassword(const char* name) override;

    int listLimits(LimitRecord* buf) override;
    Status limitTitle(const char* name, char* buf) override;
    int addLimit(const char* name, const char* title) override;
    Status deleteLimit(int pos) override;

    Status actAsAdministrator() override;
    Status initialise(const char* adminName, const char* password, unsigned long hashCost) override;
    Status setPassword(const char* name, const char* password) override;
    Status users(std::vector<UserRow>& out) override;
    Status items(std::vector<ItemRow>& out) override;
    Status audit(const std::string& since, std::vector<AuditRow>& out) override;
    Status check(CheckReport& out) override;
    Status snapshot(const std::string& file) override;
    std::string why() override;

    std::string location() override;

private:
    Backend& backend();
    void close();
    const Caller& caller();
    Acting acting();
    // Runs a write of the backend, or reports why it could not run; either
    // way the call goes to the system log.
    template <class Write>
    Status guarded(Change& change, bool typedName, Write write);
    Status notDone(Change& change, bool typedName, const DbError& e);
    template <class Read, class Result>
    Result read(Read body, Result failed);
    template <class Then>
    Status verified(Change& change, const TextArg& name, const TextArg& password, Then then);
    std::optional<std::string> hashFor(const TextArg& password, Status& status,
                                       unsigned long cost = 0);
    std::optional<Account> loggedIn();
    std::optional<std::int64_t> userId(const char* user);
    void unavailable(const std::string& why);
    Status failed(const DbError& e);
    Status refuse(const char* action, const std::string& why);

    StoreOptions m_options;
    std::mutex m_mutex;
    std::unique_ptr<Backend> m_backend;
    pid_t m_pid = 0;
    std::optional<Caller> m_caller;
    std::string m_reported;     // the last reason the store could not start
    std::string m_why;          // why the last call failed
    std::int64_t m_userId = 0;  // 0: nobody logged in
    std::string m_userName;     // UTF-8, kept for the audit once that user is gone
    int m_userCount = -1;       // last count reported, -1: none yet
    std::optional<std::string> m_adminActor;
    int m_limitCount = -1;
    char m_curName[32] = {};  // get_cur_user's answer; a fixed buffer so old pointers stay valid
};

}  // namespace keyward
