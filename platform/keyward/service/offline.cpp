#include "offline.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

#include "audit.h"
#include "password.h"
#include "store.h"
#include "trailbook.h"

namespace keyward::service {

namespace {

constexpr const char* kCache = "/offline-logins";
constexpr const char* kQueue = "/offline-queue";
constexpr std::int64_t kSecondsPerDay = 24 * 60 * 60;
// How often logins queued while the store was away are offered to it.
constexpr std::chrono::seconds kRetryEvery{10};
constexpr const char* kChecked = "checked against this station's copy of the verifier";

std::int64_t now() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, '\t');) out.push_back(field);
    return out;
}

std::vector<std::string> linesOf(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(line);
    return lines;
}

// Replaces path with text whole, mode 0600: a crash leaves the old file or
// the new one.
bool writeWhole(const std::string& path, const std::string& text) {
    const std::string partial = path + ".new";
    const int fd =
        ::open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    const bool written =
        ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
        ::fsync(fd) == 0;
    ::close(fd);
    return written && ::rename(partial.c_str(), path.c_str()) == 0;
}

void complain(const std::string& what) {
    trailbook_log(LOG_ERR, ("keywardd: offline logins: " + what).c_str());
}

}  // namespace

OfflineLogins::OfflineLogins(std::string folder, int days, std::string location, Policy policy)
    : m_folder(std::move(folder)), m_days(days), m_location(std::move(location)), m_policy(policy) {
    if (::mkdir(m_folder.c_str(), 0700) != 0 && errno != EEXIST)
        complain("cannot make " + m_folder + ": " + std::strerror(errno));
    load();
    m_retry = std::thread([this] { retryQueued(); });
}

OfflineLogins::~OfflineLogins() {
    {
        std::lock_guard lock(m_queueMutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_retry.join();
}

std::string OfflineLogins::cacheFile() const {
    return m_folder + kCache;
}

std::string OfflineLogins::queueFile() const {
    return m_folder + kQueue;
}

// item NAME, then user LAST-ONLINE ID LEVEL MASK HASH NAME, tab-separated;
// entries older than the days allowed are left out.
void OfflineLogins::load() {
    for (const auto& line : linesOf(cacheFile())) {
        const auto f = fields(line);
        if (f.size() == 2 && f[0] == "item") m_items.push_back(f[1]);
        if (f.size() != 7 || f[0] != "user") continue;
        OfflineUser user{f[6],
                         std::atoll(f[2].c_str()),
                         f[5],
                         std::atoll(f[3].c_str()),
                         static_cast<std::uint32_t>(std::strtoul(f[4].c_str(), nullptr, 10)),
                         std::atoll(f[1].c_str())};
        if (now() - user.lastOnline <= m_days * kSecondsPerDay) m_users.push_back(user);
    }
}

void OfflineLogins::save() {
    std::string text;
    for (const auto& item : m_items) text += "item\t" + item + "\n";
    std::erase_if(m_users, [&](const OfflineUser& u) {
        return now() - u.lastOnline > m_days * kSecondsPerDay;
    });
    for (const auto& u : m_users)
        text += "user\t" + std::to_string(u.lastOnline) + "\t" + std::to_string(u.id) + "\t" +
                std::to_string(u.level) + "\t" + std::to_string(u.mask) + "\t" + u.hash + "\t" +
                u.name + "\n";
    if (!writeWhole(cacheFile(), text))
        complain("cannot write " + cacheFile() + ": " + std::strerror(errno));
}

Backend& OfflineLogins::store() {
    if (!m_store || m_store->broken()) m_store = openBackend(m_location, OpenMode::Existing);
    return *m_store;
}

void OfflineLogins::answered(const std::string& name, const std::optional<Credentials>& seen,
                             Status verdict) {
    {
        std::lock_guard lock(m_mutex);
        if (verdict == Status::Ok && seen) {
            auto it = std::find_if(m_users.begin(), m_users.end(),
                                   [&](const OfflineUser& u) { return u.name == name; });
            if (it == m_users.end()) it = m_users.insert(it, OfflineUser{name, 0, {}, 0, 0, 0});
            it->id = seen->id;
            it->hash = seen->hash;
            it->lastOnline = now();
        }
    }
    // The store's own view of each entry, this user's included (a password
    // changed there, a user deleted), then what was done while it was away.
    std::lock_guard storeLock(m_storeMutex);
    try {
        refresh(store());
        replay(store());
    } catch (const std::exception& e) {
        // Tried again at the next login the store answers.
        complain(std::string("the store did not answer: ") + e.what());
    }
    std::lock_guard lock(m_mutex);
    save();
}

void OfflineLogins::refresh(Backend& store) {
    std::vector<OfflineUser> users;
    {
        std::lock_guard lock(m_mutex);
        users = m_users;
    }
    std::vector<OfflineUser> kept;
    // Lockouts the store holds, until when on this station's clock.
    std::map<std::string, std::pair<std::int64_t, int>> lockouts;
    for (auto user : users) {
        const auto credentials = store.credentials(user.name);
        const auto account = credentials ? store.account(credentials->id) : std::nullopt;
        // Gone, renamed, or another user of that name since.
        if (!credentials || !account || credentials->id != user.id) continue;
        user.hash = credentials->hash;
        user.level = account->level;
        user.mask = account->mask;
        if (const auto state = store.loginState(user.name);
            state && state->lockedUntil > state->now)
            lockouts[user.name] = {now() + (state->lockedUntil - state->now),
                                   static_cast<int>(state->locks)};
        kept.push_back(user);
    }
    std::vector<std::string> items;
    for (const auto& item : store.items()) items.push_back(item.name);
    std::lock_guard lock(m_mutex);
    // Entries made meanwhile by a login elsewhere stay for their own turn.
    for (const auto& user : m_users)
        if (std::none_of(users.begin(), users.end(),
                         [&](const OfflineUser& u) { return u.name == user.name; }))
            kept.push_back(user);
    // A login answered meanwhile keeps its time.
    for (auto& user : kept)
        for (const auto& current : m_users)
            if (current.name == user.name)
                user.lastOnline = std::max(user.lastOnline, current.lastOnline);
    m_users = std::move(kept);
    m_items = std::move(items);
    // Once the store answers, its lockouts are the ones that hold, here too
    // at the next outage: one an administrator lifted there is lifted here.
    m_failures.clear();
    for (const auto& [name, lockout] : lockouts)
        m_failures[name] = Failures{{}, lockout.first, lockout.second};
}

// TIME CODE PID OS-USER HOST NAME per line, tab-separated; NAME may be empty.
void OfflineLogins::replay(Backend& store) {
    std::vector<std::string> queued;
    {
        std::lock_guard lock(m_queueMutex);
        queued = linesOf(queueFile());
    }
    std::size_t done = 0;
    try {
        for (; done < queued.size(); ++done) {
            const auto f = fields(queued[done]);
            if (f.size() < 5) continue;
            Acting who;
            who.caller = Caller{0, f[3], std::atoll(f[2].c_str()), f[4], false};
            Change change{"login",
                          f.size() > 5 && !f[5].empty() ? std::optional(f[5]) : std::nullopt,
                          "offline at " + utcText(std::atoll(f[0].c_str())) + ", " + kChecked,
                          {}};
            store.record(who, change, fromCode(std::atoi(f[1].c_str())));
        }
    } catch (...) {
        dropQueued(done);
        throw;
    }
    dropQueued(done);
}

// The queue was only appended to meanwhile: what was written is its first
// lines.
void OfflineLogins::dropQueued(std::size_t written) {
    if (written == 0) return;
    std::lock_guard lock(m_queueMutex);
    auto left = linesOf(queueFile());
    left.erase(left.begin(), left.begin() + static_cast<std::ptrdiff_t>(written));
    std::string text;
    for (const auto& line : left) text += line + "\n";
    if (!writeWhole(queueFile(), text)) complain("cannot write " + queueFile());
}

void OfflineLogins::retryQueued() {
    for (;;) {
        {
            std::unique_lock lock(m_queueMutex);
            m_wake.wait_for(lock, kRetryEvery, [&] { return m_stopping; });
            if (m_stopping) return;
            struct stat st {};
            if (::stat(queueFile().c_str(), &st) != 0 || st.st_size == 0) continue;
        }
        std::lock_guard storeLock(m_storeMutex);
        try {
            replay(store());
        } catch (const DbError&) {
            // Still away: the next round tries again.
        }
    }
}

std::optional<Status> OfflineLogins::login(const std::string& name, const std::string& password,
                                           const Caller& who, OfflineUser& user) {
    std::optional<OfflineUser> found;
    {
        std::lock_guard lock(m_mutex);
        for (const auto& u : m_users)
            if (u.name == name && now() - u.lastOnline <= m_days * kSecondsPerDay) found = u;
    }
    if (!found) return std::nullopt;
    Status status = Status::AccountLocked;
    if (!lockedOut(*found)) {
        status = verifyPassword(password, found->hash) ? Status::Ok : Status::BadPassword;
        counted(*found, status != Status::Ok);
    }
    Change change{
        "login", name, std::string("offline: the store cannot be reached; ") + kChecked, {}};
    logEvent(change, who, status);
    const std::string line = std::to_string(now()) + "\t" + std::to_string(toCode(status)) + "\t" +
                             std::to_string(who.pid) + "\t" + who.osUser + "\t" + who.host + "\t" +
                             name + "\n";
    {
        std::lock_guard lock(m_queueMutex);
        const int fd = ::open(queueFile().c_str(),
                              O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        const bool queued =
            fd >= 0 && ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size()) &&
            ::fsync(fd) == 0;
        if (fd >= 0) ::close(fd);
        if (!queued) complain("cannot queue a login for the audit trail in " + queueFile());
    }
    if (status == Status::Ok) user = *found;
    return status;
}

bool OfflineLogins::lockedOut(const OfflineUser& user) {
    std::lock_guard lock(m_mutex);
    const auto it = m_failures.find(user.name);
    return it != m_failures.end() && now() < it->second.lockedUntil;
}

// As the store counts: deny failures within the interval lock for
// unlock_time, doubled by each lock in a row up to its cap. A level-4 user
// may be the plant's last: never locked longer than unlock_time, and not at
// all when the policy says so.
void OfflineLogins::counted(const OfflineUser& user, bool failed) {
    if (m_policy.deny <= 0) return;
    std::lock_guard lock(m_mutex);
    if (!failed) {
        m_failures.erase(user.name);
        return;
    }
    auto& f = m_failures[user.name];
    const std::int64_t t = now();
    std::erase_if(f.at, [&](std::int64_t at) { return t - at >= m_policy.failInterval; });
    f.at.push_back(t);
    if (static_cast<int>(f.at.size()) < m_policy.deny) return;
    f.at.clear();
    const bool admin = user.level == 4;
    if (admin && m_policy.lockLastAdmin == 0) return;
    f.lockedUntil = t + (admin ? m_policy.unlockTime : lockSeconds(m_policy, f.locks));
    ++f.locks;
}

std::optional<int> OfflineLogins::itemBit(const std::string& item) {
    std::lock_guard lock(m_mutex);
    const auto it = std::find(m_items.begin(), m_items.end(), item);
    if (it == m_items.end()) return std::nullopt;
    return static_cast<int>(it - m_items.begin());
}

}  // namespace keyward::service
