// Throwaway PostgreSQL 15 clusters of a test's own, for what would disturb
// a shared one: freezing its processes, stopping it for good, promoting a
// standby. Unix sockets only, trust authentication, superuser "postgres";
// as root the cluster runs as the package's postgres user.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace kwtest {

class Cluster {
public:
    // A cluster in a new folder of its own (removed with it), on port.
    explicit Cluster(int port = 5432);
    ~Cluster();

    // The PostgreSQL programs are installed: otherwise a test skips.
    static bool available();

    // A new primary, settings appended to its configuration. Throws on failure.
    void create(const std::string& settings = "");
    // A streaming standby of primary from a base backup, settings appended
    // to its configuration. Throws on failure.
    void createStandbyOf(const Cluster& primary, const std::string& settings = "");
    // pg_ctl ACTION (start, stop, promote ...) with options; its exit code.
    int ctl(const std::string& action, const std::string& options = "") const;

    // The URI of database db on this cluster, as postgres.
    std::string uri(const std::string& db) const;
    const std::filesystem::path& socketFolder() const { return m_dir; }
    int port() const { return m_port; }
    // The postmaster and its children.
    std::vector<pid_t> processes() const;

private:
    void configure(const std::string& settings) const;
    int asOwner(const std::string& command) const;

    std::filesystem::path m_dir;
    int m_port;
};

// Stops (SIGSTOP) the given processes until destroyed (SIGCONT).
class Frozen {
public:
    explicit Frozen(std::vector<pid_t> pids);
    ~Frozen();
    void thaw();

private:
    std::vector<pid_t> m_pids;
};

}  // namespace kwtest
