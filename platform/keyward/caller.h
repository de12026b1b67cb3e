// Who asks the store: the operating-system user and process, and the
// station's host name, as the audit trail names them.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace keyward {

struct Caller {
    uid_t uid = 0;
    std::string osUser;  // the user's login name, or the uid as text
    std::int64_t pid = 0;
    std::string host;
    // May act without a login (the admin command): in process always, at
    // the account service only root and the members of its admin group.
    bool mayAdminister = true;
};

// This process, as it would name itself.
Caller thisProcess();

// The login name of uid, or uid as text when it has none.
std::string userName(uid_t uid);

// This machine's host name.
std::string hostName();

}  // namespace keyward
