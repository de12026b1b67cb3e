#include "command.h"
#include "commands.h"
#include "table.h"

namespace keyward::cli {

const char* FaillockCommand::help() const {
    return "usage: keyward faillock [--reset] NAME\n"
           "\n"
           "Shows what the account policy keeps of user NAME's failed logins (and\n"
           "wrong old passwords when changing one): how many count toward a lockout\n"
           "and since when, until when the account is locked out, how many locks\n"
           "came in a row (each lasts twice as long as the one before, up to\n"
           "max_unlock_time), and whether an administrator locked it (usermod\n"
           "--lock). Times are UTC, by the store's clock.\n"
           "\n"
           "  --reset              clear the count and any lockout first, so that the\n"
           "                       next login with the right password gets in\n";
}

std::string FaillockCommand::run(const Args& args) {
    const TextArg name = nameArg(args.positional[0], "user name");
    const bool reset = args.has("--reset");
    const auto calls = openStore(Access::Administer);
    LoginState state;
    const Status status = calls->loginState(name.cp936.c_str(), reset, state);
    switch (status) {
        case Status::Ok:
            break;
        case Status::NoSuchUser:
            throw failed("no such user: " + name.utf8.str());
        case Status::Denied:
            throw failed("not allowed: " + name.utf8.str() + "'s level is not below your own");
        default:
            throw storeFailure(status, *calls);
    }
    const auto time = [](std::int64_t at) { return at != 0 ? utcText(at) : std::string("-"); };
    Table table({"name", "failures", "first failure", "locked out until", "locks", "locked"});
    table.add({name.utf8.str(), std::to_string(state.failures), time(state.firstFailure),
               time(state.lockedUntil > state.now ? state.lockedUntil : 0),
               std::to_string(state.locks), state.locked ? "yes" : "no"});
    return table.render();
}

}  // namespace keyward::cli
