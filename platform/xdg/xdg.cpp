#include "xdg.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace xdg {

namespace {

std::string homeFolder() {
    std::string home = environment("HOME");
    if (!home.empty()) return home;
    std::vector<char> buf(16384);
    passwd pw{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found != nullptr)
        return found->pw_dir;
    return "/";
}

}  // namespace

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string baseFolder(const char* variable, const char* underHome) {
    std::string folder = environment(variable);
    if (folder.empty() || folder[0] != '/') folder = homeFolder() + "/" + underHome;
    return folder;
}

}  // namespace xdg
