// The exported C calls. Nothing may leave them as an exception.
#include <mutex>

#include "client.h"
#include "paths.h"
#include "store.h"

using keyward::Calls;
using keyward::Status;
using keyward::toCode;

namespace keyward {

namespace {

std::mutex g_mutex;
Calls* g_chosen = nullptr;

}  // namespace

// The store this process talks to: its own (the personal store) or the
// account service's, as the configuration says at the start. Both live as
// long as the process, so a name get_cur_user returned stays readable.
Calls& theCalls() {
    static Store personal([] {
        StoreOptions options;
        options.announce = Announce::AlsoStderr;
        return options;
    }());
    static ServiceClient system(Announce::AlsoStderr);
    std::lock_guard lock(g_mutex);
    if (g_chosen == nullptr) {
        g_chosen = &personal;
        try {
            const StoreChoice choice = storeChoice();
            if (choice.kind == StoreChoice::Kind::System) {
                system.useSocket(choice.socket);
                g_chosen = &system;
            }
        } catch (const DbError&) {
            // A bad configuration: the personal store reports it at every call.
        }
    }
    return *g_chosen;
}

// After a stop, the next call chooses again: a start may find another
// configuration.
void forgetChoice() {
    std::lock_guard lock(g_mutex);
    g_chosen = nullptr;
}

}  // namespace keyward

namespace {

using keyward::theCalls;

template <class Call, class Result>
Result guarded(Call call, Result failed) noexcept {
    try {
        return call();
    } catch (...) {
        return failed;
    }
}

const int kFailed = toCode(Status::Unavailable);

}  // namespace

extern "C" {

int keyward_start(void) {
    guarded(
        [] {
            theCalls().start();
            return 0;
        },
        0);
    return 0;
}

int keyward_stop(void) {
    guarded(
        [] {
            theCalls().stop();
            keyward::forgetChoice();
            return 0;
        },
        0);
    return 0;
}

int login(const char* name, const char* password) {
    return guarded([&] { return toCode(theCalls().login(name, password)); }, kFailed);
}

const char* get_cur_user(void) {
    return guarded([] { return theCalls().currentName(); }, "");
}

int get_cur_users(char* buf) {
    return guarded([&] { return toCode(theCalls().currentNameInto(buf)); }, kFailed);
}

int get_user_group(const char* user) {
    return guarded([&] { return theCalls().level(user); }, 0);
}

uint32_t get_user_limit(const char* user) {
    return guarded([&] { return theCalls().mask(user); }, 0u);
}

int chk_user_limit(const char* name, const char* user) {
    return guarded([&] { return theCalls().holds(name, user) ? 1 : 0; }, 0);
}

int get_user_list(UserRecord* buf) {
    return guarded([&] { return theCalls().listUsers(buf); }, kFailed);
}

int add_user(const char* name, const char* password, int level, uint32_t mask) {
    return guarded([&] { return toCode(theCalls().addUser(name, password, level, mask)); },
                   kFailed);
}

int change_user(const char* cur_name, const char* new_name, int level, uint32_t mask) {
    return guarded([&] { return toCode(theCalls().changeUser(cur_name, new_name, level, mask)); },
                   kFailed);
}

int del_user(const char* name) {
    return guarded([&] { return toCode(theCalls().deleteUser(name)); }, kFailed);
}

int change_pwd(const char* name, const char* old_password, const char* new_password) {
    return guarded(
        [&] { return toCode(theCalls().changePassword(name, old_password, new_password)); },
        kFailed);
}

int clear_pwd(const char* name) {
    return guarded([&] { return toCode(theCalls().clearPassword(name)); }, kFailed);
}

int get_limit_list(LimitRecord* buf) {
    return guarded([&] { return theCalls().listLimits(buf); }, kFailed);
}

int get_limit_info(const char* name, char* buf) {
    return guarded([&] { return toCode(theCalls().limitTitle(name, buf)); }, kFailed);
}

int add_limit(const char* name, const char* title) {
    return guarded([&] { return theCalls().addLimit(name, title); }, kFailed);
}

int del_limit(int pos) {
    return guarded([&] { return toCode(theCalls().deleteLimit(pos)); }, kFailed);
}

int get_policy(const char* name) {
    return guarded([&] { return theCalls().policy(name); }, kFailed);
}

int get_pwd_days_left(const char* user) {
    return guarded([&] { return theCalls().passwordDaysLeft(user); }, kFailed);
}

}  // extern "C"
