// The platform's configuration library: two INI files, the system's and the
// user's, read with inih.
#include "setbank.h"

#include <ini.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "location.h"
#include "settings.h"
#include "xdg.h"

namespace {

using Key = std::pair<std::string, std::string>;  // section, key
using Values = std::map<Key, std::string>;

struct Known {
    const char* section;
    const char* key;
    // Why value cannot stand in a file of that mode, or nullptr.
    const char* (*refuse)(const std::string& value, mode_t mode);
};

// user:secret@ in the authority, or a password= parameter.
bool uriHasPassword(const std::string& uri) {
    const auto start = uri.find("://") + 3;
    const auto end = uri.find_first_of("/?", start);
    const std::string authority = uri.substr(start, end == std::string::npos ? end : end - start);
    const auto at = authority.rfind('@');
    if (at != std::string::npos && authority.substr(0, at).find(':') != std::string::npos)
        return true;
    const auto query = uri.find('?');
    if (query == std::string::npos) return false;
    for (auto p = query; p != std::string::npos; p = uri.find('&', p + 1))
        if (uri.compare(p + 1, 9, "password=") == 0) return true;
    return false;
}

// The value that names the system store: every program asks the account
// service, which alone reads the store.
constexpr const char* kSystemStore = "system";

const char* refuseStoreUri(const std::string& value, mode_t mode) {
    if (uriHasPassword(value) && (mode & S_IROTH) != 0)
        return "a password in a file every user may read; keep it in a passfile "
               "(~/.pgpass or PGPASSFILE) or a service file instead";
    return nullptr;
}

const char* refuseLocation(const std::string& value, mode_t mode) {
    if (value.empty()) return "store location is empty";
    if (value == kSystemStore) return nullptr;
    if (setbank::isServerLocation(value)) return refuseStoreUri(value, mode);
    if (value[0] != '/')
        return "store location must be \"system\", an absolute file path or a postgresql:// URI";
    return nullptr;
}

// What the account service keeps: a file or a server.
const char* refuseServiceStore(const std::string& value, mode_t mode) {
    if (setbank::isServerLocation(value)) return refuseStoreUri(value, mode);
    if (value.empty() || value[0] != '/')
        return "the service's store must be an absolute file path or a postgresql:// URI";
    return nullptr;
}

const char* refuseSocket(const std::string& value, mode_t) {
    if (value.empty() || value[0] != '/') return "the service's socket must be an absolute path";
    return nullptr;
}

const char* refuseGroup(const std::string& value, mode_t) {
    if (value.empty() || value.find_first_of(" :,\t") != std::string::npos)
        return "not a group name";
    return nullptr;
}

// How long a login keeps its user's verifier for logins while the store's
// server cannot be reached; 0 keeps none.
const char* refuseDays(const std::string& value, mode_t) {
    if (value.empty() || value.size() > 4 ||
        value.find_first_not_of("0123456789") != std::string::npos || std::stoi(value) > 3650)
        return "offline days must be a whole number from 0 to 3650";
    return nullptr;
}

const char* refuseFolder(const std::string& value, mode_t) {
    if (value.empty() || value[0] != '/') return "the offline folder must be an absolute path";
    return nullptr;
}

// A whole number from Low to High, written plainly (no sign, no leading
// zero, no blanks): what the account policy counts.
template <long Low, long High>
const char* refuseNumber(const std::string& value, mode_t) {
    static const std::string why =
        "must be a whole number from " + std::to_string(Low) + " to " + std::to_string(High);
    if (value.empty() || value.size() > 9 ||
        value.find_first_not_of("0123456789") != std::string::npos ||
        (value.size() > 1 && value[0] == '0'))
        return why.c_str();
    const long n = std::stol(value);
    return n < Low || n > High ? why.c_str() : nullptr;
}

// Failures that lock an account: 0 for none.
constexpr auto refuseCount = refuseNumber<0, 1000>;
// Up to a week.
constexpr auto refuseSeconds = refuseNumber<1, 604800>;
// Up to ten years.
constexpr auto refuseAgeDays = refuseNumber<0, 3650>;
// Up to a day.
constexpr auto refuseMinutes = refuseNumber<0, 1440>;
// The program takes passwords of at most 15 bytes: a longer minimum would
// leave it none to give.
constexpr auto refuseMinLength = refuseNumber<0, 15>;
// Lower case, upper case, digits, everything else.
constexpr auto refuseClasses = refuseNumber<0, 4>;

const char* refuseYesNo(const std::string& value, mode_t) {
    return value == "yes" || value == "no" ? nullptr : "must be yes or no";
}

#define SETBANK_KNOWN(section, key, refuse) {section, key, refuse},
constexpr Known kKnown[] = {SETBANK_SETTINGS(SETBANK_KNOWN)};
#undef SETBANK_KNOWN

std::mutex g_mutex;
Values g_values;
std::map<Key, std::string> g_origins;  // the file each value came from
std::string g_error;
bool g_loaded = false;

constexpr const char* kSystemFile = "/etc/varnock/varnock.conf";

// The system's file, then the user's. Tests name a system file of their own
// (SETBANK_SYSTEM_FILE), except where the real one names the system store:
// then it is final, as it is for every program on the machine.
std::string userFile() {
    return xdg::baseFolder("XDG_CONFIG_HOME", ".config") + "/varnock/varnock.conf";
}

// One file's parse: inih calls the reader once per line, so the handler
// knows the line it is judging.
struct Parse {
    FILE* file;
    mode_t mode;
    int line = 0;
    int badLine = 0;
    std::string why;
    Values values;
    std::string text;  // the line being read

    int fail(std::string reason) {
        if (badLine == 0) {
            badLine = line;
            why = std::move(reason);
        }
        return 0;
    }
};

// inih's line buffer has a fixed size. A longer line is refused as such:
// read in pieces, as fgets would, each piece would be judged as a line of
// its own, under the wrong number.
char* readLine(char* str, int num, void* stream) {
    auto* parse = static_cast<Parse*>(stream);
    std::string& text = parse->text;
    text.clear();
    for (int c; (c = std::getc(parse->file)) != EOF;) {
        text += static_cast<char>(c);
        if (c == '\n') break;
    }
    if (text.empty()) return nullptr;
    ++parse->line;
    // Room for "\r\n" and the NUL, as inih asks.
    const std::size_t room = static_cast<std::size_t>(std::max(num - 3, 0));
    const std::size_t end = text.find_last_not_of("\r\n");
    if (end != std::string::npos && end >= room) {
        parse->fail("line longer than " + std::to_string(room) + " bytes");
        return nullptr;  // the end of the parse
    }
    std::memcpy(str, text.c_str(), text.size() + 1);
    return str;
}

int onValue(void* user, const char* section, const char* name, const char* value) {
    auto* parse = static_cast<Parse*>(user);
    for (const Known& k : kKnown) {
        if (std::strcmp(k.section, section) != 0 || std::strcmp(k.key, name) != 0) continue;
        if (const char* why = k.refuse(value, parse->mode)) return parse->fail(why);
        parse->values[{section, name}] = value;
        return 1;
    }
    return parse->fail(std::string("unknown setting ") + name + " in section [" + section + "]");
}

// Reads path into values; a missing file adds nothing.
std::optional<std::string> readFile(const std::string& path, Values& values) {
    std::unique_ptr<FILE, decltype(&std::fclose)> file(std::fopen(path.c_str(), "re"),
                                                       &std::fclose);
    if (!file) {
        if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
        return path + ": cannot read: " + std::strerror(errno);
    }
    struct stat st {};
    if (fstat(fileno(file.get()), &st) != 0 || !S_ISREG(st.st_mode))
        return path + ": not a regular file";
    Parse parse{file.get(), st.st_mode, 0, 0, {}, {}, {}};
    const int rc = ini_parse_stream(readLine, &parse, onValue, &parse);
    if (rc < 0) return path + ": cannot read";
    // inih names the first line it could not parse; the reader and the
    // handler the first they refused.
    const int bad = rc > 0 ? rc : parse.badLine;
    if (bad > 0) {
        const std::string why =
            bad == parse.badLine ? parse.why : "not a [section], a key = value or a comment";
        return path + ":" + std::to_string(bad) + ": " + why;
    }
    for (auto& [key, value] : parse.values) values[key] = value;
    return std::nullopt;
}

bool namesSystemStore(const Values& values) {
    const auto it = values.find({"store", "location"});
    return it != values.end() && it->second == kSystemStore;
}

// Reads path into values and notes where each came from.
std::optional<std::string> readInto(const std::string& path, Values& values,
                                    std::map<Key, std::string>& origins) {
    Values read;
    if (auto error = readFile(path, read)) return error;
    for (auto& [key, value] : read) {
        values[key] = value;
        origins[key] = path;
    }
    return std::nullopt;
}

int reloadLocked() {
    Values values;
    std::map<Key, std::string> origins;
    const auto fail = [&](const std::string& error) {
        g_error = error;
        g_loaded = true;
        return -1;
    };
    if (auto error = readInto(kSystemFile, values, origins)) return fail(*error);
    if (!namesSystemStore(values)) {
        const std::string stand_in = xdg::environment("SETBANK_SYSTEM_FILE");
        if (!stand_in.empty()) {
            values.clear();
            origins.clear();
            if (auto error = readInto(stand_in, values, origins)) return fail(*error);
        }
        // A user's file never overrides a system store, nor is it read then.
        if (!namesSystemStore(values))
            if (auto error = readInto(userFile(), values, origins)) return fail(*error);
    }
    g_values = std::move(values);
    g_origins = std::move(origins);
    g_error.clear();
    g_loaded = true;
    return 0;
}

int copyOut(const std::string& text, char* buf, std::size_t size) {
    if (buf == nullptr || size == 0) return -2;
    const std::size_t n = std::min(text.size(), size - 1);
    std::memcpy(buf, text.data(), n);
    buf[n] = '\0';
    return static_cast<int>(n);
}

}  // namespace

extern "C" {

int setbank_start(void) {
    std::lock_guard lock(g_mutex);
    return reloadLocked();
}

int setbank_stop(void) {
    return 0;
}

int setbank_reload(void) {
    std::lock_guard lock(g_mutex);
    return reloadLocked();
}

int setbank_error(char* buf, std::size_t size) {
    std::lock_guard lock(g_mutex);
    return copyOut(g_error, buf, size);
}

int setbank_origin(const char* section, const char* key, char* buf, std::size_t size) {
    if (section == nullptr || key == nullptr) return -1;
    std::lock_guard lock(g_mutex);
    if (!g_loaded) reloadLocked();
    const auto it = g_origins.find({section, key});
    if (it == g_origins.end()) return -1;
    if (buf == nullptr || it->second.size() >= size) return -2;
    return copyOut(it->second, buf, size);
}

int setbank_get(const char* section, const char* key, char* buf, std::size_t size) {
    if (section == nullptr || key == nullptr) return -1;
    std::lock_guard lock(g_mutex);
    if (!g_loaded) reloadLocked();
    const auto it = g_values.find({section, key});
    if (it == g_values.end()) return -1;
    if (buf == nullptr || it->second.size() >= size) return -2;
    return copyOut(it->second, buf, size);
}

}  // extern "C"
