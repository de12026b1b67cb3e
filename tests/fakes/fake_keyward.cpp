#include "fake_keyward.h"

#include <algorithm>
#include <cstring>

namespace fakestore {

Script& script() {
    static Script s_script;
    return s_script;
}

std::vector<std::string>& calls() {
    static std::vector<std::string> s_calls;
    return s_calls;
}

void reset() {
    script() = Script{};
    calls().clear();
}

std::vector<std::string> callsFrom(const std::string& name) {
    auto& log = calls();
    auto it = std::find_if(log.begin(), log.end(),
                           [&](const std::string& c) { return c.rfind(name, 0) == 0; });
    return std::vector<std::string>(it, log.end());
}

UserRecord user(const char* name, int level, uint32_t mask) {
    UserRecord r{};
    std::strncpy(r.name, name, sizeof(r.name) - 1);
    r.level = level;
    r.mask = mask;
    return r;
}

LimitRecord item(const char* name, const char* title) {
    LimitRecord r{};
    std::strncpy(r.name, name, sizeof(r.name) - 1);
    std::strncpy(r.title, title, sizeof(r.title) - 1);
    return r;
}

namespace {
void log(std::string entry) {
    calls().push_back(std::move(entry));
}
std::string text(const char* s) {
    return s ? std::string(s) : std::string("null");
}
std::vector<UserRecord>::iterator findUser(const char* name) {
    auto& users = script().users;
    return std::find_if(users.begin(), users.end(), [&](const UserRecord& r) {
        return name && std::strncmp(r.name, name, sizeof(r.name)) == 0;
    });
}
}  // namespace

}  // namespace fakestore

using namespace fakestore;

extern "C" {

int setbank_start(void) {
    log("setbank_start");
    return 0;
}
int setbank_stop(void) {
    log("setbank_stop");
    return 0;
}
int trailbook_start(void) {
    log("trailbook_start");
    return 0;
}
int trailbook_stop(void) {
    log("trailbook_stop");
    return 0;
}
int keyward_start(void) {
    log("keyward_start");
    return 0;
}
int keyward_stop(void) {
    log("keyward_stop");
    return 0;
}

int login(const char* name, const char* password) {
    log("login(" + text(name) + "," + text(password) + ")");
    if (script().loginResult == 0) script().curUser = text(name);
    return script().loginResult;
}

const char* get_cur_user(void) {
    log("get_cur_user");
    return script().curUser.c_str();
}

int get_cur_users(char* buf) {
    log("get_cur_users");
    if (script().curUsersResult != 0) return script().curUsersResult;
    std::memset(buf, 0, 32);
    std::strncpy(buf, script().curUser.c_str(), 31);
    return 0;
}

int get_user_group(const char* user) {
    log("get_user_group(" + text(user) + ")");
    return script().group;
}

uint32_t get_user_limit(const char* user) {
    log("get_user_limit(" + text(user) + ")");
    return script().limit;
}

int chk_user_limit(const char* name, const char* user) {
    log("chk_user_limit(" + text(name) + "," + text(user) + ")");
    const auto& items = script().items;
    for (size_t i = 0; i < items.size() && i < 32; ++i)
        if (std::strcmp(items[i].name, name) == 0) return (script().limit >> i) & 1u;
    return 0;
}

int get_user_list(UserRecord* buf) {
    log(buf ? "get_user_list(buf)" : "get_user_list(null)");
    if (script().userListResult < 0) return script().userListResult;
    const auto& users = script().users;
    if (buf) std::copy(users.begin(), users.end(), buf);
    return int(users.size());
}

int add_user(const char* name, const char* password, int level, uint32_t mask) {
    log("add_user(" + text(name) + "," + text(password) + "," + std::to_string(level) + "," +
        std::to_string(mask) + ")");
    if (script().addUserResult == 0) script().users.push_back(user(name, level, mask));
    return script().addUserResult;
}

int change_user(const char* cur, const char* name, int level, uint32_t mask) {
    log("change_user(" + text(cur) + "," + text(name) + "," + std::to_string(level) + "," +
        std::to_string(mask) + ")");
    const auto it = findUser(cur);
    if (script().changeUserResult == 0 && it != script().users.end()) *it = user(name, level, mask);
    return script().changeUserResult;
}

int del_user(const char* name) {
    log("del_user(" + text(name) + ")");
    const auto it = findUser(name);
    if (script().delUserResult == 0 && it != script().users.end()) script().users.erase(it);
    return script().delUserResult;
}

int change_pwd(const char* name, const char* oldPwd, const char* newPwd) {
    log("change_pwd(" + text(name) + "," + text(oldPwd) + "," + text(newPwd) + ")");
    return script().changePwdResult;
}

int clear_pwd(const char* name) {
    log("clear_pwd(" + text(name) + ")");
    return script().clearPwdResult;
}

int get_limit_list(LimitRecord* buf) {
    log(buf ? "get_limit_list(buf)" : "get_limit_list(null)");
    const auto& items = script().items;
    if (buf) std::copy(items.begin(), items.end(), buf);
    return int(items.size());
}

int get_limit_info(const char* name, char* buf) {
    log("get_limit_info(" + text(name) + ")");
    std::memset(buf, 0, 32);
    for (const auto& it : script().items)
        if (std::strcmp(it.name, name) == 0) std::memcpy(buf, it.title, 31);
    return 0;
}

int add_limit(const char* name, const char* title) {
    log("add_limit(" + text(name) + "," + text(title) + ")");
    auto& items = script().items;
    if (script().addLimitResult < 0 || !script().limitWritesStick) return script().addLimitResult;
    for (const auto& it : items)
        if (std::strncmp(it.name, name, sizeof(it.name)) == 0) return -1;
    items.push_back(item(name, title));
    return int(items.size()) - 1;
}

int del_limit(int pos) {
    log("del_limit(" + std::to_string(pos) + ")");
    auto& items = script().items;
    if (script().delLimitResult != 0 || !script().limitWritesStick) return script().delLimitResult;
    if (pos < 0 || std::size_t(pos) >= items.size()) return -1;
    items.erase(items.begin() + pos);
    return 0;
}

}  // extern "C"
