// The store through the account service: every call a request on the
// service's socket. One connection per process, made on the first call and
// again after fork or a lost connection; the service keeps the logged-in
// user per connection, so a lost connection forgets it.
#pragma once

#include <sys/types.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "calls.h"
#include "paths.h"
#include "protocol.h"
#include "store.h"

namespace keyward {

class ServiceClient final : public Calls {
public:
    explicit ServiceClient(Announce announce = Announce::SystemLogOnly) : m_announce(announce) {}
    ~ServiceClient() override;

    // The socket to use from now on; a change closes the connection.
    void useSocket(const std::string& socket);

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
    int policy(const char* name) override;
    int passwordDaysLeft(const char* user) override;

    Status actAsAdministrator() override;
    Status initialise(const char* adminName, const char* password, unsigned long hashCost) override;
    Status setPassword(const char* name, const char* password) override;
    Status users(std::vector<UserRow>& out) override;
    Status items(std::vector<ItemRow>& out) override;
    Status audit(const std::string& since, std::vector<AuditRow>& out) override;
    Status check(CheckReport& out) override;
    Status setLocked(const char* name, bool lock) override;
    Status loginState(const char* name, bool reset, LoginState& out) override;
    Status addUsers(const std::vector<UserEntry>& users, std::size_t& failedAt) override;
    Status setPasswords(const std::vector<PasswordEntry>& entries, std::size_t& failedAt) override;
    Status snapshot(const std::string& file) override;
    std::string why() override;
    std::string location() override;

private:
    // Sends request and returns the reply's payload; nullopt when the
    // service cannot be reached or breaks the protocol (the connection is
    // then dropped, and why said once).
    std::optional<std::string> call(const wire::Writer& request,
                                    std::chrono::seconds timeout = std::chrono::seconds(20));
    // A reply's result code; Unavailable's when there was none.
    int code(const wire::Writer& request);
    bool connect();
    void disconnect();
    void unavailable(const std::string& why);
    // An admin call's reply: its code, why it failed, then read(reader) for
    // what it returns on success, or for whatever it returns with
    // readAlways; the reply waited for up to timeout.
    template <class Read>
    Status admin(const wire::Writer& request, Read read, bool readAlways = false,
                 std::chrono::seconds timeout = std::chrono::seconds(20));
    // A bulk change: its code and why, and the entry refused; the reply
    // waits for every entry's hashing.
    Status batch(const wire::Writer& request, std::size_t entries, std::size_t& failedAt);

    std::mutex m_mutex;
    Announce m_announce;
    std::string m_socket;
    int m_fd = -1;
    pid_t m_pid = 0;
    std::string m_reported;
    std::string m_why;
    int m_userCount = -1;
    int m_limitCount = -1;
    char m_curName[32] = {};
};

// The store a choice names, as the admin command opens it: in process with
// mode, or through the account service.
std::unique_ptr<Calls> callsFor(const StoreChoice& choice, OpenMode mode, Announce announce);

}  // namespace keyward
