// The admin command's parts: options, failures, and one class per command.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "audit.h"
#include "calls.h"
#include "connection.h"
#include "paths.h"
#include "table.h"
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
    char shortName = 0;  // 'a' for -a, 0 for none
};

struct Args {
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;  // flags map to ""

    bool has(const std::string& option) const { return options.count(option) != 0; }
    std::optional<std::string> value(const std::string& option) const;
};

// What every command and the command line as a whole take besides their own.
inline const OptionSpec kHelpOption{"--help", false, 'h'};
inline const OptionSpec kVersionOption{"--version", false, 'V'};

// GNU option syntax through getopt_long: --opt VALUE, --opt=VALUE, -o VALUE,
// -oVALUE, options among the arguments, and "--" ending the options. argv[0]
// names the command. Throws a usage Failure on an unknown or repeated
// option, a missing or unwanted value, or the wrong number of arguments;
// --help and --version are returned without the count being checked.
Args parseArgs(const std::vector<std::string>& argv, const std::vector<OptionSpec>& specs,
               std::size_t positional);

class Command {
public:
    virtual ~Command() = default;
    virtual const char* name() const = 0;
    virtual const char* summary() const = 0;
    virtual const char* help() const = 0;
    virtual std::vector<OptionSpec> options() const = 0;
    virtual std::size_t arguments() const = 0;
    // Returns what goes to standard output; printed only when nothing failed.
    virtual std::string run(const Args& args) = 0;
};

std::vector<std::unique_ptr<Command>> allCommands();

// Shared helpers of the commands.

// What a command does with the store: reads what every user may read;
// reads what only administrators may (the audit trail, the checks); reads or
// changes as an administrator (or as the user given to --login); or creates
// it (init).
enum class Access { Read, Inspect, Administer, Create };

// The store as the configuration chooses it, opened for access: in process
// (a personal store; never created but by Create, opened read-only to read
// or inspect) or through the account service. Administer acts as the
// operating-system user, which the service allows root and its admin group,
// or logs in as the --login user first. Throws a Failure.
// A location given names a personal store there instead of the configured.
std::unique_ptr<Calls> openStore(Access access,
                                 const std::optional<std::string>& location = std::nullopt);
// The configuration's choice; a bad configuration is a Failure.
StoreChoice configuredStore();
// The store a --store option names, else the configured one.
StoreChoice chosenStore(const std::optional<std::string>& location);
// The store user --login names, or empty: commands log in as them.
void setLoginUser(const std::string& name);
// Text typed in UTF-8, checked as the store will check it; what names it in
// the failure.
TextArg textArg(const std::string& utf8, const TextRule& rule, const char* what);
inline TextArg nameArg(const std::string& utf8, const char* what) {
    return textArg(utf8, kNameRule, what);
}
// A failed call of calls: its reason when it gave one, else the status's.
Failure storeFailure(Status status, Calls& calls);
Failure storeFailure(Status status);
Failure dbFailure(const DbError& e);

inline const OptionSpec kFormatOption{"--format", true};
Format formatArg(const Args& args);

// A level as typed, 0 to 4; else a usage Failure.
int levelArg(const std::string& text);
// Comma-separated item names ("" for none) into a mask, by their positions
// in items; a name that is none is a Failure.
std::uint32_t itemsMask(const std::vector<ItemRow>& items, const std::string& list);

// A new password the account policy's rules refused, with the rules in
// force.
Failure passwordRefused(Calls& calls);

// Who asked for an audited call, as the kernel named them: user@host[pid],
// and where a server saw them: from ADDRESS; "-" for nobody named.
std::string askedBy(const AuditRow& row);

// The operating-system user as the audit trail names them: "os:NAME".
std::string operatingSystemActor();

// "keyward 2.0"
std::string versionText();

}  // namespace keyward::cli
