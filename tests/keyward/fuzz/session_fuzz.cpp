// libFuzzer over the account service's sessions: each input is a series of
// request frames from one client, answered as keywardd answers them, on one
// store. A frame that breaks the protocol ends the input, as it ends the
// connection; any other way out, or a reply without its result code, stops
// the run. The first byte says whether the client is an administrator.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "caller.h"
#include "session.h"

namespace {

std::string g_store;

void expect(bool ok) {
    if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char dir[] = "/tmp/keyward-session-fuzz-XXXXXX";
    if (mkdtemp(dir) == nullptr) std::abort();
    g_store = std::string(dir) + "/keyward.db";
    setenv("KEYWARD_HASH_COST", "1", 1);
    setenv("TRAILBOOK_SOCKET", (std::string(dir) + "/no-log").c_str(), 1);
    setenv("TMPDIR", dir, 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const keyward::Caller caller{65534, "fuzz", 4242, "fuzzhost", (data[0] & 1) != 0};
    keyward::service::Session session(g_store, caller, nullptr);
    // Past the greeting, so the fuzzer spends its time on the requests.
    std::string hello("\x01\x01\x00\x00\x00", 5);
    keyward::wire::Writer greeted;
    session.answer(hello, greeted);
    // Frames: a length byte, then that many bytes.
    for (std::size_t at = 1; at < size;) {
        const std::size_t n = std::min<std::size_t>(data[at], size - at - 1);
        const std::string request(reinterpret_cast<const char*>(data + at + 1), n);
        at += 1 + n;
        keyward::wire::Writer reply;
        try {
            session.answer(request, reply);
        } catch (const keyward::wire::ProtocolError&) {
            return 0;
        }
        expect(reply.payload().size() >= 4);
    }
    return 0;
}
