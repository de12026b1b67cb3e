// The platform log, for the platform's own libraries. Programs only start
// and stop it (store/keyward.h declares the two entries for them).
#pragma once

#if defined(__GNUC__)
#define TRAILBOOK_API __attribute__((visibility("default")))
#else
#define TRAILBOOK_API
#endif

extern "C" {

// Start and stop: safe in any order and any number of times; 0.
TRAILBOOK_API int trailbook_start(void);
TRAILBOOK_API int trailbook_stop(void);

// Sends message to the system log as ident "varnock" under facility
// LOG_AUTHPRIV, as sshd and su log, with level (LOG_NOTICE, LOG_WARNING ...).
// Works without trailbook_start; never blocks and never fails the caller: a
// system without a log loses the line. Control characters are sent as '?'.
TRAILBOOK_API void trailbook_log(int level, const char* message);

}  // extern "C"
