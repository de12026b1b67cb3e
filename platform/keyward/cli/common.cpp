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
    Args args;
    for (std::size_t i = 0; i < argv.size(); ++i) {
        const std::string& arg = argv[i];
        if (arg.size() < 2 || arg.compare(0, 2, "--") != 0 || arg == "--") {
            args.positional.push_back(arg);
            continue;
        }
        const OptionSpec* spec = nullptr;
        for (const auto& s : specs)
            if (arg == s.name) spec = &s;
        if (spec == nullptr) throw usageError("unknown option " + arg);
        if (args.has(arg)) throw usageError("option " + arg + " given twice");
        if (spec->takesValue) {
            if (i + 1 >= argv.size()) throw usageError("option " + arg + " needs a value");
            args.options[arg] = argv[++i];
        } else {
            args.options[arg] = "";
        }
    }
    if (args.positional.size() != positional)
        throw usageError(positional == 0
                             ? "unexpected argument " + args.positional.front()
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

TextArg nameArg(const std::string& utf8, const char* what) {
    TextArg arg = fromUtf8(utf8, kNameRule);
    switch (arg.fault) {
        case TextFault::None:
            return arg;
        case TextFault::Empty:
            throw failed(std::string(what) + " is empty");
        case TextFault::TooLong:
            throw failed(std::string(what) + " too long: " +
                         std::to_string(arg.cp936.str().size()) + " bytes in CP936, at most 31");
        case TextFault::Null:
        case TextFault::Invalid:
            break;
    }
    throw failed(std::string(what) + " is not valid text (CP936, no control characters)");
}

Failure storeFailure(Status status) {
    return failed(describe(status));
}

Failure dbFailure(const DbError& e) {
    if (e.busy()) return failed("database is locked");
    return failed(e.what());
}

}  // namespace keyward::cli
