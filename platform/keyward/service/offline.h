// Offline logins ([offline] days = N): for each user who logged in at this
// station within the last N days, the service keeps the verifier the store
// held then (the yescrypt hash as read, never a password), with the user's
// level and mask and the item list, in a file only the service may read.
// While the store cannot be reached, a login is checked against it; such a
// login goes to the system log at once and to the store's audit trail once
// the store answers again. A user deleted or changed in the store is dropped
// or brought up to date at the next login the store answers here. Failed
// offline logins count against the policy's deny as the store's would.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "backend.h"
#include "caller.h"
#include "policy.h"
#include "status.h"

namespace keyward::service {

// A user as last seen online at this station.
struct OfflineUser {
    std::string name;  // UTF-8
    std::int64_t id = 0;
    std::string hash;
    std::int64_t level = 0;
    std::uint32_t mask = 0;
    std::int64_t lastOnline = 0;  // the last login the store answered, seconds since 1970
};

class OfflineLogins {
public:
    // The files live in folder (made, 0700, when missing); location is the
    // store. Logins queued while it was away are written to its trail from
    // a thread of its own as soon as it answers.
    OfflineLogins(std::string folder, int days, std::string location, Policy policy = {});
    ~OfflineLogins();
    OfflineLogins(const OfflineLogins&) = delete;
    OfflineLogins& operator=(const OfflineLogins&) = delete;

    // After a login the store answered (Store's answered hook): the user's
    // entry is made (verdict Ok), given the store's verifier (the password
    // changed there) or dropped (no such user); every other entry is checked
    // against the store likewise; queued logins go to its trail.
    void answered(const std::string& name, const std::optional<Credentials>& seen, Status verdict);

    // A login while the store cannot be reached: Ok (with user filled),
    // BadPassword or AccountLocked for a user who logged in here within the
    // days, said to the system log and queued for the trail; nullopt for
    // anyone else.
    std::optional<Status> login(const std::string& name, const std::string& password,
                                const Caller& who, OfflineUser& user);

    // The bit of item in the masks, as the item list was last seen.
    std::optional<int> itemBit(const std::string& item);

    // The files, for people and tests.
    std::string cacheFile() const;
    std::string queueFile() const;

private:
    void load();
    void save();
    // The store's own view of every entry; throws DbError.
    void refresh(Backend& store);
    // Writes the queued logins to the trail; throws DbError.
    void replay(Backend& store);
    void dropQueued(std::size_t written);
    Backend& store();
    void retryQueued();
    // Whether the user is locked out now; a failure counted, or the count
    // cleared by a success.
    bool lockedOut(const OfflineUser& user);
    void counted(const OfflineUser& user, bool failed);

    const std::string m_folder;
    const std::int64_t m_days;
    const std::string m_location;
    const Policy m_policy;
    // The entries (memory and file); the queue file; the store's connection
    // and every use of it. Never the first while waiting on the store, so a
    // login against the copy never waits for a store that does not answer.
    std::mutex m_mutex;
    std::mutex m_queueMutex;
    std::mutex m_storeMutex;
    std::vector<OfflineUser> m_users;
    std::vector<std::string> m_items;
    // Failed offline logins per user, kept while the service runs, and the
    // lockouts the store held when it last answered: a station cut off from
    // the store is no place to guess passwords.
    struct Failures {
        std::vector<std::int64_t> at;  // within the interval
        std::int64_t lockedUntil = 0;
        int locks = 0;  // in a row, for the doubling
    };
    std::map<std::string, Failures> m_failures;
    std::unique_ptr<Backend> m_store;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::thread m_retry;
};

}  // namespace keyward::service
