#include <cctype>
#include <chrono>

#include "command.h"
#include "commands.h"
#include "table.h"

namespace keyward::cli {

namespace {

int number(const std::string& t, std::size_t at, std::size_t digits) {
    return std::stoi(t.substr(at, digits));
}

// Whether the digits in a YYYY-MM-DD[THH:MM[:SS]] shape name a moment that
// exists: no 13th month, no 30 February, no 24:00.
bool exists(const std::string& t) {
    using namespace std::chrono;
    const year_month_day date{year{number(t, 0, 4)}, month{static_cast<unsigned>(number(t, 5, 2))},
                              day{static_cast<unsigned>(number(t, 8, 2))}};
    if (!date.ok()) return false;
    const int limits[] = {23, 59, 59};
    for (std::size_t i = 0; 11 + 3 * i < t.size(); ++i)
        if (number(t, 11 + 3 * i, 2) > limits[i]) return false;
    return true;
}

// Accepts YYYY-MM-DD, optionally followed by 'T' or ' ' and HH:MM[:SS] and
// a 'Z'; returns the form stored times compare with as text.
std::string normaliseTime(const std::string& text) {
    std::string t = text;
    if (!t.empty() && t.back() == 'Z') t.pop_back();
    if (t.size() > 10 && t[10] == ' ') t[10] = 'T';
    static const std::string shapes[] = {"dddd-dd-dd", "dddd-dd-ddTdd:dd", "dddd-dd-ddTdd:dd:dd"};
    for (const auto& shape : shapes) {
        if (shape.size() != t.size()) continue;
        bool fits = true;
        for (std::size_t i = 0; i < shape.size(); ++i)
            fits = fits && (shape[i] == 'd' ? std::isdigit(static_cast<unsigned char>(t[i])) != 0
                                            : shape[i] == t[i]);
        if (!fits) continue;
        if (!exists(t)) throw usageError("bad time " + text + ": no such date or time");
        return t;
    }
    throw usageError("bad time " + text + ": use YYYY-MM-DD[THH:MM[:SS]] (UTC)");
}

}  // namespace

const char* AuditCommand::help() const {
    return "usage: keyward audit [--since TIME] [--format=table|tsv|json]\n"
           "\n"
           "Shows the audit trail, oldest first: UTC time, acting user (- for none,\n"
           "os:NAME for the operating-system user who ran keyward), action, target,\n"
           "outcome, detail, and who asked: the operating-system user, process and\n"
           "host, and on a server store the address the server saw the station at\n"
           "(local for its own socket). TIME is UTC, YYYY-MM-DD with an optional\n"
           "THH:MM or THH:MM:SS.\n";
}

std::string AuditCommand::run(const Args& args) {
    const std::string since = args.has("--since") ? normaliseTime(*args.value("--since")) : "";
    const Format format = formatArg(args);
    const auto calls = openStore(Access::Inspect);
    std::vector<AuditRow> rows;
    if (const Status status = calls->audit(since, rows); status != Status::Ok)
        throw storeFailure(status, *calls);
    Table table({"time", "actor", "action", "target", "outcome", "detail", "asked by"});
    Records records({"time", "actor", "action", "target", "outcome", "detail", "os_user", "pid",
                     "host", "address"});
    const auto field = [](const std::optional<std::string>& text) -> Value {
        if (text) return *text;
        return nullptr;
    };
    for (const auto& row : rows) {
        // Who asked, as the kernel named them: user@host[pid], and where a
        // server saw them: from ADDRESS.
        std::string askedBy = row.osUser ? *row.osUser + "@" + row.host.value_or("") : "-";
        if (row.osUser) askedBy += "[" + std::to_string(row.pid) + "]";
        if (row.address) askedBy += " from " + *row.address;
        table.add({row.at, row.actor.value_or("-"), row.action, row.target.value_or("-"),
                   row.outcome, row.detail.value_or(""), askedBy});
        records.add({row.at, field(row.actor), row.action, field(row.target), row.outcome,
                     field(row.detail), field(row.osUser), row.pid, field(row.host),
                     field(row.address)});
    }
    return render(format, table, records);
}

}  // namespace keyward::cli
