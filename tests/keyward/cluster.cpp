#include "cluster.h"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace kwtest {

namespace {

std::string binFolder() {
    const char* bin = std::getenv("PG_BINDIR");
    return bin != nullptr ? bin : "/usr/lib/postgresql/15/bin";
}

}  // namespace

Cluster::Cluster(int port) : m_port(port) {
    char tmpl[] = "/tmp/keyward-cluster-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) throw std::runtime_error("cannot make a cluster's folder");
    m_dir = tmpl;
    if (geteuid() == 0 && std::system(("chown postgres: " + m_dir.string()).c_str()) != 0)
        throw std::runtime_error("cannot hand " + m_dir.string() + " to postgres");
}

Cluster::~Cluster() {
    ctl("stop", "-m immediate");
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
}

bool Cluster::available() {
    return std::filesystem::exists(binFolder() + "/initdb");
}

int Cluster::asOwner(const std::string& command) const {
    const std::string owner = geteuid() == 0 ? "runuser -u postgres -- " : "";
    return std::system(
        (owner + command + " >>" + (m_dir / "commands.log").string() + " 2>&1").c_str());
}

int Cluster::ctl(const std::string& action, const std::string& options) const {
    return asOwner(binFolder() + "/pg_ctl -D " + (m_dir / "data").string() + " -l " +
                   (m_dir / "server.log").string() + " -w -s " + options + " " + action);
}

void Cluster::configure(const std::string& settings) const {
    std::ofstream(m_dir / "data" / "postgresql.conf", std::ios::app)
        << "listen_addresses = ''\nunix_socket_directories = '" << m_dir.string()
        << "'\nport = " << m_port << "\nfsync = off\nmax_connections = 40\n"
        << settings << "\n";
}

void Cluster::create(const std::string& settings) {
    if (asOwner(binFolder() + "/initdb -D " + (m_dir / "data").string() +
                " -U postgres --auth=trust -E UTF8 --locale=C.UTF-8") != 0)
        throw std::runtime_error("initdb failed in " + m_dir.string());
    configure(settings);
    if (ctl("start") != 0) throw std::runtime_error("cannot start " + m_dir.string());
}

void Cluster::createStandbyOf(const Cluster& primary, const std::string& settings) {
    if (asOwner(binFolder() + "/pg_basebackup -D " + (m_dir / "data").string() + " -h " +
                primary.m_dir.string() + " -p " + std::to_string(primary.m_port) +
                " -U postgres -R -X stream --checkpoint=fast") != 0)
        throw std::runtime_error("pg_basebackup failed into " + m_dir.string());
    configure(settings);
    if (ctl("start") != 0) throw std::runtime_error("cannot start " + m_dir.string());
}

std::string Cluster::uri(const std::string& db) const {
    return "postgresql://postgres@/" + db + "?host=" + m_dir.string() +
           "&port=" + std::to_string(m_port);
}

std::vector<pid_t> Cluster::processes() const {
    std::ifstream pidFile(m_dir / "data" / "postmaster.pid");
    pid_t postmaster = 0;
    if (!(pidFile >> postmaster)) return {};
    std::vector<pid_t> pids{postmaster};
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string pid, comm, state;
        pid_t parent = 0;
        // comm is in parentheses and holds no blanks for postgres' processes.
        if (stat >> pid >> comm >> state >> parent && parent == postmaster)
            pids.push_back(static_cast<pid_t>(std::stol(pid)));
    }
    return pids;
}

Frozen::Frozen(std::vector<pid_t> pids) : m_pids(std::move(pids)) {
    // The postmaster first, so that it starts no child meanwhile.
    for (const pid_t pid : m_pids) kill(pid, SIGSTOP);
}

Frozen::~Frozen() {
    thaw();
}

void Frozen::thaw() {
    for (const pid_t pid : m_pids) kill(pid, SIGCONT);
    m_pids.clear();
}

}  // namespace kwtest
