// The admin command's parts: options, failures, and one class per command.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "database.h"
#include "store.h"
#include "text.h"

namespace keyward::cli {

enum ExitCode { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

// Ends a command with one line on standard error and an exit code.
class Failure : public std::runtime_error {
public:
    Failure(ExitCode code, const std::string& what) : std::runtime_error(what), m_code(code) {}
    ExitCode code() const { return m_code; }

private:
    ExitCode m_code;
};

inline Failure usageError(const std::string& what) {
    return Failure(kExitUsage, what);
}
inline Failure failed(const std::string& what) {
    return Failure(kExitFailed, what);
}

struct OptionSpec {
    const char* name;  // "--admin"
    bool takesValue;
};

struct Args {
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;  // flags map to ""

    bool has(const std::string& option) const { return options.count(option) != 0; }
    std::optional<std::string> value(const std::string& option) const;
};

// Throws a usage Failure on an unknown option, a missing value or the wrong
// number of positional arguments.
Args parseArgs(const std::vector<std::string>& argv, const std::vector<OptionSpec>& specs,
               std::size_t positional);

class Command {
public:
    virtual ~Command() = default;
    virtual const char* name() const = 0;
    virtual const char* summary() const = 0;
    virtual const char* help() const = 0;
    // Returns what goes to standard output; printed only when nothing failed.
    virtual std::string run(const std::vector<std::string>& argv) = 0;
};

std::vector<std::unique_ptr<Command>> allCommands();

// Shared helpers of the commands.
// The store as it is; commands that only read pass OpenMode::ReadOnly.
Database openExisting(OpenMode mode = OpenMode::Existing);
// A name typed in UTF-8, checked as the store will check it.
TextArg nameArg(const std::string& utf8, const char* what);
Failure storeFailure(Status status);
Failure dbFailure(const DbError& e);

}  // namespace keyward::cli
