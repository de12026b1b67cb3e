// keywardd's listener: one thread per client connection, each with a
// session of its own, so a client that sends garbage or stops mid-request
// holds up nobody else.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>

namespace keyward::service {

struct Options {
    // The socket to make and listen on; empty: the one systemd passed.
    std::string socket;
    // The store the service keeps: a file or a postgresql:// URI.
    std::string store;
    // Members act as administrators without a login, as root does.
    std::optional<gid_t> adminGroup;
    std::size_t maxClients = 128;
    // Offline logins for a store on a server: the days a login here keeps
    // its user's verifier (0: none kept), and the folder for it.
    int offlineDays = 0;
    std::string offlineFolder;
};

// Serves until SIGTERM or SIGINT, then lets requests under way finish and
// returns 0; 1 when it cannot listen (said on standard error).
int run(const Options& options);

}  // namespace keyward::service
