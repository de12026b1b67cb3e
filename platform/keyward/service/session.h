// One client of the account service: its connection's requests, answered by
// a store of its own that knows the caller from the kernel.
#pragma once

#include <optional>
#include <string>

#include "caller.h"
#include "offline.h"
#include "protocol.h"
#include "store.h"

namespace keyward::service {

class Session {
public:
    // offline: the service's offline logins, or nullptr when it keeps none.
    Session(const std::string& location, const Caller& caller, OfflineLogins* offline);

    // The reply to one request's payload. Throws wire::ProtocolError for a
    // request that breaks the protocol: the connection is then dropped.
    void answer(const std::string& request, wire::Writer& reply);

private:
    void snapshot(wire::Writer& reply);
    Status loginOffline(const std::optional<std::string>& name,
                        const std::optional<std::string>& password);

    OfflineLogins* m_offline;
    Caller m_caller;
    // Logged in against the offline copy: who, for the calls about oneself.
    std::optional<OfflineUser> m_offlineUser;
    Store m_store;
    bool m_greeted = false;
    int m_userCount = -1;  // what this client was last told, for its fill
    int m_limitCount = -1;
};

}  // namespace keyward::service
