#include "caller.h"

#include <pwd.h>
#include <unistd.h>

#include <vector>

namespace keyward {

std::string userName(uid_t uid) {
    std::vector<char> buf(16384);
    passwd pw{};
    passwd* found = nullptr;
    if (getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) == 0 && found != nullptr)
        return found->pw_name;
    return std::to_string(uid);
}

std::string hostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return "";
    return name;
}

Caller thisProcess() {
    return {getuid(), userName(getuid()), static_cast<std::int64_t>(getpid()), hostName(), true};
}

}  // namespace keyward
