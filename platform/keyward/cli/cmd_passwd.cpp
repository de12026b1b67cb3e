#include "command.h"
#include "commands.h"
#include "terminal.h"

namespace keyward::cli {

const char* PasswdCommand::help() const {
    return "usage: keyward passwd NAME [--password-stdin]\n"
           "\n"
           "Sets a new password for user NAME without asking for the old one: the\n"
           "way back in when the last administrator has forgotten theirs. The\n"
           "password is asked twice on the terminal, or read as one line from\n"
           "standard input with --password-stdin. It keeps the account policy's\n"
           "rules, and where the policy asks for it (must_change_initial) its user\n"
           "changes it at the next login.\n";
}

std::string PasswdCommand::run(const Args& args) {
    const TextArg name = nameArg(args.positional[0], "user name");
    const auto calls = openStore(Access::Administer);
    const SecretString password = newPassword(args.has("--password-stdin"));
    const Status status = calls->setPassword(name.cp936.c_str(), password.c_str());
    if (status == Status::NoSuchUser) throw failed("no such user: " + name.utf8.str());
    if (status == Status::PasswordRefused) throw passwordRefused(*calls);
    if (status != Status::Ok) throw storeFailure(status, *calls);
    return "password set for " + name.utf8.str() + "\n";
}

}  // namespace keyward::cli
