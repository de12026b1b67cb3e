// keyward: the account store's admin command.
#include <cstdio>
#include <iostream>

#include "command.h"
#include "commands.h"

namespace keyward::cli {

std::vector<std::unique_ptr<Command>> allCommands() {
    std::vector<std::unique_ptr<Command>> commands;
    commands.push_back(std::make_unique<InitCommand>());
    commands.push_back(std::make_unique<UsersCommand>());
    commands.push_back(std::make_unique<ItemsCommand>());
    commands.push_back(std::make_unique<PasswdCommand>());
    commands.push_back(std::make_unique<AuditCommand>());
    commands.push_back(std::make_unique<CheckCommand>());
    commands.push_back(std::make_unique<BackupCommand>());
    return commands;
}

namespace {

std::string overview() {
    std::string text =
        "usage: keyward COMMAND [OPTIONS]\n"
        "\n"
        "Administers the account store at $KEYWARD_DB, else\n"
        "$XDG_DATA_HOME/varnock/keyward.db, else ~/.local/share/varnock/keyward.db.\n"
        "\n"
        "commands:\n";
    for (const auto& c : allCommands()) {
        std::string name = c->name();
        name.resize(8, ' ');
        text += "  " + name + c->summary() + "\n";
    }
    text +=
        "\n'keyward COMMAND --help' describes a command. Exit status: 0 done,\n"
        "1 refused or failed, 2 bad usage.\n";
    return text;
}

int run(const std::vector<std::string>& argv) {
    if (argv.empty()) throw usageError("no command given; try 'keyward --help'");
    if (argv[0] == "--help" || argv[0] == "-h" || argv[0] == "help") {
        std::fputs(overview().c_str(), stdout);
        return kExitOk;
    }
    for (const auto& command : allCommands()) {
        if (argv[0] != command->name()) continue;
        const std::vector<std::string> rest(argv.begin() + 1, argv.end());
        for (const auto& arg : rest) {
            if (arg == "--help" || arg == "-h") {
                std::fputs(command->help(), stdout);
                return kExitOk;
            }
        }
        const std::string out = command->run(rest);
        std::fputs(out.c_str(), stdout);
        return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
    }
    throw usageError("unknown command " + argv[0] + "; try 'keyward --help'");
}

}  // namespace

}  // namespace keyward::cli

int main(int argc, char** argv) {
    using namespace keyward::cli;
    try {
        return run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const Failure& f) {
        std::cerr << "keyward: " << f.what() << '\n';
        return f.code();
    } catch (const std::exception& e) {
        std::cerr << "keyward: " << e.what() << '\n';
        return kExitFailed;
    }
}
