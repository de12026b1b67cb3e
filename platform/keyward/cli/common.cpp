#include <getopt.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

#include "caller.h"
#include "client.h"
#include "command.h"
#include "terminal.h"

namespace keyward::cli {

namespace {

std::string g_loginUser;

}  // namespace

std::optional<std::string> Args::value(const std::string& option) const {
    const auto it = options.find(option);
    if (it == options.end()) return std::nullopt;
    return it->second;
}

Args parseArgs(const std::vector<std::string>& argv, const std::vector<OptionSpec>& specs,
               std::size_t positional) {
    std::vector<OptionSpec> all = specs;
    all.push_back(kHelpOption);
    all.push_back(kVersionOption);

    // Long options report 256 + their index, short ones their letter, so an
    // error can name the form that was typed.
    constexpr int kLongBase = 256;
    std::string shorts = ":";  // ':' reports a missing value apart from an unknown option
    std::vector<option> longs;
    for (std::size_t i = 0; i < all.size(); ++i) {
        longs.push_back({all[i].name + 2, all[i].takesValue ? required_argument : no_argument,
                         nullptr, kLongBase + static_cast<int>(i)});
        if (all[i].shortName != 0) {
            shorts += all[i].shortName;
            if (all[i].takesValue) shorts += ':';
        }
    }
    longs.push_back({});

    std::vector<std::string> words = argv;
    std::vector<char*> ptrs;
    for (auto& w : words) ptrs.push_back(w.data());
    ptrs.push_back(nullptr);
    const int argc = static_cast<int>(words.size());

    auto formOf = [&](int code) {
        if (code >= kLongBase) return std::string(all[code - kLongBase].name);
        return std::string("-") + static_cast<char>(code);
    };
    auto specOf = [&](int code) -> const OptionSpec& {
        if (code >= kLongBase) return all[code - kLongBase];
        for (const auto& s : all)
            if (s.shortName == code) return s;
        throw usageError("unknown option " + formOf(code));
    };

    Args args;
    optind = 0;  // a fresh scan
    opterr = 0;
    for (int code;
         (code = getopt_long(argc, ptrs.data(), shorts.c_str(), longs.data(), nullptr)) != -1;) {
        if (code == ':') throw usageError("option " + formOf(optopt) + " needs a value");
        if (code == '?') {
            if (optopt >= kLongBase)
                throw usageError("option " + formOf(optopt) + " takes no value");
            if (optopt != 0) throw usageError("unknown option " + formOf(optopt));
            std::string word = ptrs[optind - 1];
            word = word.substr(0, word.find('='));
            throw usageError("unknown option " + word);
        }
        const OptionSpec& spec = specOf(code);
        if (args.has(spec.name))
            throw usageError(std::string("option ") + spec.name + " given twice");
        args.options[spec.name] = spec.takesValue ? optarg : "";
    }
    for (int i = optind; i < argc; ++i) args.positional.emplace_back(ptrs[i]);
    if (args.has(kHelpOption.name) || args.has(kVersionOption.name)) return args;
    if (args.positional.size() != positional)
        throw usageError(positional == 0 || args.positional.size() > positional
                             ? "unexpected argument " + args.positional[positional]
                             : "expected " + std::to_string(positional) + " argument(s)");
    return args;
}

StoreChoice configuredStore() {
    try {
        return storeChoice();
    } catch (const DbError& e) {
        throw failed(e.what());
    }
}

StoreChoice chosenStore(const std::optional<std::string>& location) {
    if (location) return {StoreChoice::Kind::Personal, *location, {}, "--store"};
    return configuredStore();
}

void setLoginUser(const std::string& name) {
    g_loginUser = name;
}

std::unique_ptr<Calls> openStore(Access access, const std::optional<std::string>& location) {
    const StoreChoice choice = chosenStore(location);
    const bool reads = access == Access::Read || access == Access::Inspect;
    const OpenMode mode = access == Access::Create ? OpenMode::Create
                          : reads                  ? OpenMode::ReadOnly
                                                   : OpenMode::Existing;
    auto calls = callsFor(choice, mode, Announce::SystemLogOnly);
    // Reading a personal store takes only the right to read its file.
    const bool personal = choice.kind == StoreChoice::Kind::Personal;
    if (access == Access::Read || (access == Access::Inspect && personal)) return calls;
    if (!g_loginUser.empty()) {
        const TextArg user = nameArg(g_loginUser, "user name");
        const SecretString password = loginPassword(g_loginUser);
        const Status status = calls->login(user.cp936.c_str(), password.c_str());
        if (status == Status::NoSuchUser || status == Status::BadPassword)
            throw failed("login as " + g_loginUser + " refused: wrong user name or password");
        if (status != Status::Ok) throw storeFailure(status, *calls);
        return calls;
    }
    const Status status = calls->actAsAdministrator();
    if (status == Status::Denied)
        throw failed(operatingSystemActor().substr(3) +
                     " may not administer the system store; run as root or as a member of "
                     "the admin group, or give --login NAME");
    if (status != Status::Ok) throw storeFailure(status, *calls);
    return calls;
}

TextArg textArg(const std::string& utf8, const TextRule& rule, const char* what) {
    TextArg arg = fromUtf8(utf8, rule);
    switch (arg.fault) {
        case TextFault::None:
            return arg;
        case TextFault::Empty:
            throw failed(std::string(what) + " is empty");
        case TextFault::TooLong:
            throw failed(std::string(what) +
                         " too long: " + std::to_string(arg.cp936.str().size()) +
                         " bytes in CP936, at most " + std::to_string(rule.maxBytes));
        case TextFault::Null:
        case TextFault::Invalid:
            break;
    }
    throw failed(std::string(what) + " is not valid text (CP936, no control characters)");
}

Failure storeFailure(Status status, Calls& calls) {
    const std::string why = calls.why();
    return failed(why.empty() ? describe(status) : why);
}

Failure storeFailure(Status status) {
    return failed(describe(status));
}

int levelArg(const std::string& text) {
    if (text.size() == 1 && text[0] >= '0' && text[0] < '0' + KEYWARD_LEVEL_COUNT)
        return text[0] - '0';
    throw usageError("bad level " + text + "; use 0 to 4");
}

std::uint32_t itemsMask(const std::vector<ItemRow>& items, const std::string& list) {
    std::uint32_t mask = 0;
    if (list.empty()) return mask;
    for (std::size_t start = 0;;) {
        const std::size_t end = std::min(list.find(',', start), list.size());
        const TextArg name = nameArg(list.substr(start, end - start), "item name");
        const auto it = std::find_if(items.begin(), items.end(), [&](const ItemRow& item) {
            return item.name == name.utf8.str();
        });
        if (it == items.end()) throw failed("no such permission item: " + name.utf8.str());
        mask |= 1u << (it - items.begin());
        if (end == list.size()) return mask;
        start = end + 1;
    }
}

Failure passwordRefused(Calls& calls) {
    return failed("password refused by the account policy: at least " +
                  std::to_string(calls.policy("min_length")) + " bytes, of at least " +
                  std::to_string(calls.policy("min_classes")) +
                  " of the classes lower case, upper case, digits and others");
}

std::string askedBy(const AuditRow& row) {
    std::string text = row.osUser ? *row.osUser + "@" + row.host.value_or("") : "-";
    if (row.osUser) text += "[" + std::to_string(row.pid) + "]";
    if (row.address) text += " from " + *row.address;
    return text;
}

Failure dbFailure(const DbError& e) {
    if (e.busy()) return failed("database is locked");
    return failed(e.what());
}

Format formatArg(const Args& args) {
    const std::string format = args.value(kFormatOption.name).value_or("table");
    if (format == "table") return Format::Table;
    if (format == "tsv") return Format::Tsv;
    if (format == "json") return Format::Json;
    throw usageError("unknown format " + format + "; use table, tsv or json");
}

// "os:NAME" for the real user id, so that a store user of the same name is
// never taken for the person at the console.
std::string operatingSystemActor() {
    return "os:" + userName(getuid());
}

std::string versionText() {
    return "keyward " KEYWARD_VERSION "\n";
}

}  // namespace keyward::cli
