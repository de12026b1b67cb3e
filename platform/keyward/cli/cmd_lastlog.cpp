#include <map>

#include "command.h"
#include "commands.h"
#include "table.h"

namespace keyward::cli {

namespace {

// A login's outcomes: in (also to change a password due for it), or
// refused for the account's sake (not for the store's: unavailable, busy).
bool loggedIn(const std::string& outcome) {
    return outcome == "ok" || outcome == "must_change_password";
}

bool refused(const std::string& outcome) {
    return outcome == "bad_password" || outcome == "account_locked" ||
           outcome == "password_expired";
}

struct Logins {
    const AuditRow* last = nullptr;    // the last that got in
    const AuditRow* failed = nullptr;  // the last refused
    std::int64_t failedSince = 0;      // refused since the last that got in
};

}  // namespace

const char* LastlogCommand::help() const {
    return "usage: keyward lastlog [--format=table|tsv|json]\n"
           "\n"
           "Lists each user, in store order, with their logins as the audit trail\n"
           "has them: the last that got in (UTC) and who asked from where, the\n"
           "last that was refused (wrong password, locked account, expired\n"
           "password), and how many were refused since the last that got in. A\n"
           "user renamed since is found under the new name from then on. The\n"
           "system store's trail is read by root and the admin group alone.\n";
}

std::string LastlogCommand::run(const Args& args) {
    const Format format = formatArg(args);
    const auto calls = openStore(Access::Inspect);
    std::vector<UserRow> users;
    std::vector<AuditRow> rows;
    for (const Status status : {calls->users(users), calls->audit("", rows)})
        if (status != Status::Ok) throw storeFailure(status, *calls);
    std::map<std::string, Logins> logins;
    for (const AuditRow& row : rows) {
        if (row.action != "login" || !row.target) continue;
        Logins& l = logins[*row.target];
        if (loggedIn(row.outcome)) {
            l.last = &row;
            l.failedSince = 0;
        } else if (refused(row.outcome)) {
            l.failed = &row;
            ++l.failedSince;
        }
    }
    Table table({"name", "last login", "from", "last failure", "failures"});
    Records records({"name", "last_login", "from", "last_failure", "failures"});
    for (const UserRow& user : users) {
        const Logins& l = logins[user.name];
        table.add({user.name, l.last ? l.last->at : "-", l.last ? askedBy(*l.last) : "-",
                   l.failed ? l.failed->at : "-", std::to_string(l.failedSince)});
        const auto at = [](const AuditRow* row) -> Value {
            if (row) return row->at;
            return nullptr;
        };
        records.add({user.name, at(l.last), l.last ? Value(askedBy(*l.last)) : Value(nullptr),
                     at(l.failed), l.failedSince});
    }
    return render(format, table, records);
}

}  // namespace keyward::cli
