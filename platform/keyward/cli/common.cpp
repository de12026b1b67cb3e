#include <getopt.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>

#include "command.h"
#include "paths.h"

namespace keyward::cli {

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

Database openExisting(OpenMode mode) {
    try {
        return Database(databasePath(), mode);
    } catch (const DbError& e) {
        throw dbFailure(e);
    }
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

Failure storeFailure(Status status) {
    const std::string& why = adminStore()->unavailableReason();
    if (status == Status::Unavailable && !why.empty())
        return failed(std::string(describe(status)) + ": " + why);
    return failed(describe(status));
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
    const uid_t uid = getuid();
    std::vector<char> buf(16384);
    passwd pw{};
    passwd* found = nullptr;
    if (getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) == 0 && found != nullptr)
        return std::string("os:") + found->pw_name;
    return "os:" + std::to_string(uid);
}

Store* adminStore() {
    static Store* const store = [] {
        static Store s;
        s.actAsAdministrator(operatingSystemActor());
        return &s;
    }();
    return store;
}

std::string versionText() {
    return "keyward " KEYWARD_VERSION "\n";
}

}  // namespace keyward::cli
