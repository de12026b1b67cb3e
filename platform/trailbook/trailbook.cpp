// The platform log. Programs only start and stop it; messages go to syslog
// under the platform's ident.
#include <syslog.h>

#include <mutex>

#include "store/keyward.h"

namespace {

std::mutex g_mutex;
bool g_open = false;

}  // namespace

extern "C" {

int trailbook_start(void) {
    std::lock_guard lock(g_mutex);
    if (!g_open) {
        openlog("varnock", LOG_PID | LOG_NDELAY, LOG_USER);
        g_open = true;
    }
    return 0;
}

int trailbook_stop(void) {
    std::lock_guard lock(g_mutex);
    if (g_open) {
        closelog();
        g_open = false;
    }
    return 0;
}

}  // extern "C"
