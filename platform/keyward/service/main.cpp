// keywardd: the account service. Owns the system store; every program of
// the platform asks it through libkeyward.
#include <getopt.h>
#include <grp.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "connection.h"
#include "paths.h"
#include "service.h"
#include "setbank.h"

namespace {

constexpr const char* kUsage =
    "usage: keywardd [--socket PATH] [--store LOCATION] [--admin-group GROUP]\n"
    "       keywardd --help | --version\n"
    "\n"
    "The account service of the platform: keeps the system store and answers\n"
    "the programs that use it on a local socket, knowing each caller from the\n"
    "kernel. Runs in the foreground until SIGTERM.\n"
    "\n"
    "  --socket PATH        listen here (default: the socket systemd passes,\n"
    "                       else [service] socket, else /run/varnock/keyward.sock)\n"
    "  --store LOCATION     the store: a file or a postgresql:// URI (default:\n"
    "                       [service] store, else /var/lib/varnock/keyward.db)\n"
    "  --admin-group GROUP  whose members administer without a login, as root\n"
    "                       does (default: [service] admin_group, else varnock-admin)\n"
    "\n"
    "Settings come from /etc/varnock/varnock.conf ([service], and [offline]\n"
    "days and folder for logins while the store's server cannot be reached).\n"
    "A server's credential may lie beside it, in pg_service.conf or pgpass\n"
    "(mode 0600, the service's own), unless PGSERVICEFILE or PGPASSFILE name\n"
    "others. See keywardd(8).\n";

std::optional<gid_t> groupId(const std::string& name) {
    std::vector<char> buf(16384);
    group gr{};
    group* found = nullptr;
    if (getgrnam_r(name.c_str(), &gr, buf.data(), buf.size(), &found) == 0 && found != nullptr)
        return found->gr_gid;
    if (!name.empty() && name.find_first_not_of("0123456789") == std::string::npos)
        return static_cast<gid_t>(std::stoul(name));
    return std::nullopt;
}

// A server's credential lives beside the configuration that names the
// store (/etc/varnock), readable by the service's user alone: libpq reads
// pg_service.conf and pgpass there unless the environment names others.
void credentialsBesideConfiguration() {
    char file[4096];
    if (setbank_origin("service", "store", file, sizeof file) <= 0 &&
        setbank_origin("store", "location", file, sizeof file) <= 0)
        return;
    const std::string folder = std::filesystem::path(file).parent_path().string();
    for (const auto& [variable, name] :
         {std::pair{"PGSERVICEFILE", "pg_service.conf"}, std::pair{"PGPASSFILE", "pgpass"}}) {
        const std::string path = folder + "/" + name;
        if (std::getenv(variable) == nullptr && ::access(path.c_str(), F_OK) == 0)
            setenv(variable, path.c_str(), 0);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string socket;
    std::string store;
    std::string adminGroup;
    bool socketGiven = false;
    const option longs[] = {{"socket", required_argument, nullptr, 's'},
                            {"store", required_argument, nullptr, 'd'},
                            {"admin-group", required_argument, nullptr, 'g'},
                            {"help", no_argument, nullptr, 'h'},
                            {"version", no_argument, nullptr, 'V'},
                            {}};
    for (int c; (c = getopt_long(argc, argv, "", longs, nullptr)) != -1;) {
        switch (c) {
            case 's':
                socket = optarg;
                socketGiven = true;
                break;
            case 'd':
                store = optarg;
                break;
            case 'g':
                adminGroup = optarg;
                break;
            case 'h':
                std::fputs(kUsage, stdout);
                return 0;
            case 'V':
                std::puts("keywardd " KEYWARD_VERSION);
                return 0;
            default:
                std::fputs(kUsage, stderr);
                return 2;
        }
    }
    if (optind != argc) {
        std::fprintf(stderr, "keywardd: unexpected argument %s\n", argv[optind]);
        return 2;
    }
    if (setbank_reload() != 0) {
        char why[1024];
        setbank_error(why, sizeof why);
        std::fprintf(stderr, "keywardd: bad configuration: %s\n", why);
        return 1;
    }
    credentialsBesideConfiguration();
    using keyward::serviceSetting;
    keyward::service::Options options;
    if (!socketGiven && std::getenv("LISTEN_FDS") == nullptr)
        socket = serviceSetting("socket", keyward::kDefaultSocket);
    options.socket = socket;
    options.store = store.empty() ? serviceSetting("store", keyward::kDefaultServiceStore) : store;
    if (adminGroup.empty()) adminGroup = serviceSetting("admin_group", keyward::kDefaultAdminGroup);
    options.adminGroup = groupId(adminGroup);
    options.offlineDays = std::atoi(keyward::configSetting("offline", "days", "0").c_str());
    options.offlineFolder = keyward::configSetting(
        "offline", "folder",
        std::filesystem::path(keyward::kDefaultServiceStore).parent_path().string());
    return keyward::service::run(options);
}
