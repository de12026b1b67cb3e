// One client of the account service: its connection's requests, answered by
// a store of its own that knows the caller from the kernel.
#pragma once

#include <string>

#include "caller.h"
#include "protocol.h"
#include "store.h"

namespace keyward::service {

class Session {
public:
    Session(const std::string& location, const Caller& caller, const Policy& policy);

    // The reply to one request's payload. Throws wire::ProtocolError for a
    // request that breaks the protocol: the connection is then dropped.
    void answer(const std::string& request, wire::Writer& reply);

private:
    void snapshot(wire::Writer& reply);

    Store m_store;
    bool m_greeted = false;
    int m_userCount = -1;  // what this client was last told, for its fill
    int m_limitCount = -1;
};

}  // namespace keyward::service
