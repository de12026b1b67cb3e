// A recording fake of the account store: every call is logged with its
// arguments, in order, and answers come from a script the test sets.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "store/keyward.h"

namespace fakestore {

struct Script {
    std::vector<UserRecord> users;
    std::vector<LimitRecord> items;
    // add_limit and del_limit answer with these; with limitWritesStick a
    // success also changes `items` as the store would (a name already there
    // is refused).
    int addLimitResult = 0;
    int delLimitResult = 0;
    bool limitWritesStick = false;
    int userListResult = 0;  // negative: what get_user_list fails with
    int loginResult = 0;
    int group = 4;  // level of the logged-in user
    uint32_t limit = 0xFFFFFFFFu;
    int curUsersResult = 0;
    std::string curUser;  // set by a successful login
    // Results of the calls that write; a success also changes `users`.
    int addUserResult = 0;
    int changeUserResult = 0;
    int delUserResult = 0;
    int changePwdResult = 0;
    int clearPwdResult = 0;
};

Script& script();
std::vector<std::string>& calls();
// Clears the log and the script.
void reset();
// The log from the first call named `name` on (empty if none).
std::vector<std::string> callsFrom(const std::string& name);

UserRecord user(const char* name, int level, uint32_t mask);
LimitRecord item(const char* name, const char* title);

}  // namespace fakestore
