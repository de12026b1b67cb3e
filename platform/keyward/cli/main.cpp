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
    commands.push_back(std::make_unique<UseraddCommand>());
    commands.push_back(std::make_unique<UsermodCommand>());
    commands.push_back(std::make_unique<UserdelCommand>());
    commands.push_back(std::make_unique<PasswdCommand>());
    commands.push_back(std::make_unique<ItemaddCommand>());
    commands.push_back(std::make_unique<ItemdelCommand>());
    commands.push_back(std::make_unique<AuditCommand>());
    commands.push_back(std::make_unique<CheckCommand>());
    commands.push_back(std::make_unique<BackupCommand>());
    commands.push_back(std::make_unique<MigrateCommand>());
    return commands;
}

namespace {

std::string overview() {
    std::string text =
        "usage: keyward [--login NAME] COMMAND [OPTIONS] [ARGUMENTS]\n"
        "       keyward --help | --version\n"
        "\n"
        "Administers the account store. Where /etc/varnock/varnock.conf names the\n"
        "system store (location = system), that is the account service's, for root\n"
        "and the admin group, or for the store user --login NAME names (its password\n"
        "is asked, or read from standard input's first line), within that user's\n"
        "rights. Otherwise the personal store at $KEYWARD_DB, else the configuration's\n"
        "[store] location (/etc/varnock/varnock.conf, then the user's), else\n"
        "$XDG_DATA_HOME/varnock/keyward.db, else ~/.local/share/varnock/keyward.db.\n"
        "A location is a file or a postgresql:// URI.\n"
        "\n"
        "commands:\n";
    for (const auto& c : allCommands()) {
        std::string name = c->name();
        name.resize(10, ' ');
        text += "  " + name + c->summary() + "\n";
    }
    text +=
        "\n'keyward help COMMAND' describes a command; 'man 8 keyward' all of\n"
        "them. Exit status: 0 done, 1 refused or failed, 2 bad usage.\n";
    return text;
}

int print(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
}

std::unique_ptr<Command> findCommand(const std::string& name) {
    for (auto& command : allCommands())
        if (name == command->name()) return std::move(command);
    throw usageError("unknown command " + name + "; try 'keyward --help'");
}

// keyward help [COMMAND], also as --help or -h.
int help(const std::vector<std::string>& argv) {
    if (argv.size() > 2) throw usageError("unexpected argument " + argv[2]);
    return print(argv.size() == 1 ? overview() : findCommand(argv[1])->help());
}

int run(std::vector<std::string> argv) {
    // --login NAME (or --login=NAME) before the command: act as that store user.
    if (!argv.empty() && argv[0].rfind("--login", 0) == 0) {
        std::string name;
        if (argv[0] == "--login" && argv.size() > 1) {
            name = argv[1];
            argv.erase(argv.begin(), argv.begin() + 2);
        } else if (argv[0].rfind("--login=", 0) == 0) {
            name = argv[0].substr(8);
            argv.erase(argv.begin());
        } else {
            throw usageError("option --login needs a user name");
        }
        if (name.empty()) throw usageError("option --login needs a user name");
        setLoginUser(name);
    }
    if (argv.empty()) throw usageError("no command given; try 'keyward --help'");
    const std::string& first = argv[0];
    if (first == kHelpOption.name || first == "-h" || first == "help") return help(argv);
    if (first == kVersionOption.name || first == "-V") return print(versionText());
    if (first.size() > 1 && first[0] == '-') throw usageError("unknown option " + first);
    const auto command = findCommand(first);
    const Args args = parseArgs(argv, command->options(), command->arguments());
    if (args.has(kHelpOption.name)) return print(command->help());
    if (args.has(kVersionOption.name)) return print(versionText());
    return print(command->run(args));
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
