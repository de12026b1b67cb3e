// The exported C calls. Nothing may leave them as an exception.
#include "store.h"

using keyward::Status;
using keyward::theStore;
using keyward::toCode;

namespace {

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
            theStore().start();
            return 0;
        },
        0);
    return 0;
}

int keyward_stop(void) {
    guarded(
        [] {
            theStore().stop();
            return 0;
        },
        0);
    return 0;
}

int login(const char* name, const char* password) {
    return guarded([&] { return toCode(theStore().login(name, password)); }, kFailed);
}

const char* get_cur_user(void) {
    return guarded([] { return theStore().currentName(); }, "");
}

int get_cur_users(char* buf) {
    return guarded([&] { return toCode(theStore().currentNameInto(buf)); }, kFailed);
}

int get_user_group(const char* user) {
    return guarded([&] { return theStore().level(user); }, 0);
}

uint32_t get_user_limit(const char* user) {
    return guarded([&] { return theStore().mask(user); }, 0u);
}

int chk_user_limit(const char* name, const char* user) {
    return guarded([&] { return theStore().holds(name, user) ? 1 : 0; }, 0);
}

int get_user_list(UserRecord* buf) {
    return guarded([&] { return theStore().listUsers(buf); }, kFailed);
}

int add_user(const char* name, const char* password, int level, uint32_t mask) {
    return guarded([&] { return toCode(theStore().addUser(name, password, level, mask)); },
                   kFailed);
}

int change_user(const char* cur_name, const char* new_name, int level, uint32_t mask) {
    return guarded([&] { return toCode(theStore().changeUser(cur_name, new_name, level, mask)); },
                   kFailed);
}

int del_user(const char* name) {
    return guarded([&] { return toCode(theStore().deleteUser(name)); }, kFailed);
}

int change_pwd(const char* name, const char* old_password, const char* new_password) {
    return guarded(
        [&] { return toCode(theStore().changePassword(name, old_password, new_password)); },
        kFailed);
}

int clear_pwd(const char* name) {
    return guarded([&] { return toCode(theStore().clearPassword(name)); }, kFailed);
}

int get_limit_list(LimitRecord* buf) {
    return guarded([&] { return theStore().listLimits(buf); }, kFailed);
}

int get_limit_info(const char* name, char* buf) {
    return guarded([&] { return toCode(theStore().limitTitle(name, buf)); }, kFailed);
}

int add_limit(const char* name, const char* title) {
    return guarded([&] { return theStore().addLimit(name, title); }, kFailed);
}

int del_limit(int pos) {
    return guarded([&] { return toCode(theStore().deleteLimit(pos)); }, kFailed);
}

}  // extern "C"
