#include <algorithm>

#include "command.h"
#include "commands.h"
#include "terminal.h"

namespace keyward::cli {

namespace {

// Comma-separated item names into a mask, by their positions in the list.
std::uint32_t maskOf(Calls& calls, const std::string& list) {
    std::vector<ItemRow> items;
    if (const Status status = calls.items(items); status != Status::Ok)
        throw storeFailure(status, calls);
    return itemsMask(items, list);
}

std::optional<UserRow> findUser(Calls& calls, const TextArg& name) {
    std::vector<UserRow> users;
    if (const Status status = calls.users(users); status != Status::Ok)
        throw storeFailure(status, calls);
    for (auto& user : users)
        if (user.name == name.utf8.str()) return std::move(user);
    return std::nullopt;
}

}  // namespace

const char* UseraddCommand::help() const {
    return "usage: keyward useradd NAME --level N [--items ITEM,...] [--password-stdin]\n"
           "\n"
           "Adds user NAME at level N (0 to 4) holding the permission items named\n"
           "(none without --items). The password is asked twice on the terminal, or\n"
           "read as one line from standard input with --password-stdin.\n"
           "\n"
           "  -l, --level N        the user's level\n"
           "  -i, --items LIST     item names separated by commas\n";
}

std::string UseraddCommand::run(const Args& args) {
    const TextArg name = nameArg(args.positional[0], "user name");
    if (!args.has(kLevelOption.name)) throw usageError("option --level is required");
    const int level = levelArg(*args.value(kLevelOption.name));
    const auto calls = openStore(Access::Administer);
    // Refused before the password is asked for; the store checks again.
    if (findUser(*calls, name)) throw failed("user exists: " + name.utf8.str());
    const std::uint32_t mask = maskOf(*calls, args.value(kItemsOption.name).value_or(""));
    const SecretString password = newPassword(args.has(kPasswordStdinOption.name));
    const Status status = calls->addUser(name.cp936.c_str(), password.c_str(), level, mask);
    if (status == Status::NameTaken) throw failed("user exists: " + name.utf8.str());
    if (status == Status::PasswordRefused) throw passwordRefused(*calls);
    if (status != Status::Ok) throw storeFailure(status, *calls);
    return "added user " + name.utf8.str() + "\n";
}

const char* UsermodCommand::help() const {
    return "usage: keyward usermod NAME [--rename NEW] [--level N] [--items ITEM,...]\n"
           "       keyward usermod NAME --lock | --unlock\n"
           "\n"
           "Changes user NAME: its name, its level (0 to 4), or the permission items\n"
           "it holds (--items '' for none). What is not given stays; so does the\n"
           "password. The store's last level-4 user cannot be demoted.\n"
           "\n"
           "--lock locks the account: no login gets in, whatever the password, and\n"
           "its level, items and password stay (the stored hash behind a marker).\n"
           "--unlock lets it in again, also when failed logins locked it out. The\n"
           "last level-4 user who can log in cannot be locked.\n"
           "\n"
           "  --rename NEW         the user's new name\n"
           "  -l, --level N        the user's level\n"
           "  -i, --items LIST     item names separated by commas\n"
           "  --lock, --unlock     lock the account, or let it in again\n";
}

namespace {

std::string lockUser(const TextArg& name, bool lock) {
    const auto calls = openStore(Access::Administer);
    const Status status = calls->setLocked(name.cp936.c_str(), lock);
    switch (status) {
        case Status::Ok:
            return (lock ? "locked user " : "unlocked user ") + name.utf8.str() + "\n";
        case Status::NoSuchUser:
            throw failed("no such user: " + name.utf8.str());
        case Status::LastAdministrator:
            throw failed(name.utf8.str() +
                         " is the last level-4 user who can log in and cannot be locked");
        case Status::Denied:
            throw failed("not allowed: " + name.utf8.str() + "'s level is not below your own");
        default:
            throw storeFailure(status, *calls);
    }
}

}  // namespace

std::string UsermodCommand::run(const Args& args) {
    const TextArg name = nameArg(args.positional[0], "user name");
    const bool lock = args.has("--lock");
    if (lock || args.has("--unlock")) {
        if (lock && args.has("--unlock")) throw usageError("--lock and --unlock contradict");
        if (args.has("--rename") || args.has(kLevelOption.name) || args.has(kItemsOption.name))
            throw usageError("--lock and --unlock go alone, without other changes");
        return lockUser(name, lock);
    }
    if (!args.has("--rename") && !args.has(kLevelOption.name) && !args.has(kItemsOption.name))
        throw usageError("nothing to change; give --rename, --level or --items");
    const TextArg newName =
        nameArg(args.value("--rename").value_or(args.positional[0]), "new name");
    const auto calls = openStore(Access::Administer);
    auto account = findUser(*calls, name);
    if (!account) throw failed("no such user: " + name.utf8.str());
    if (args.has(kItemsOption.name)) account->mask = maskOf(*calls, *args.value(kItemsOption.name));
    if (args.has(kLevelOption.name)) account->level = levelArg(*args.value(kLevelOption.name));

    const Status status = calls->changeUser(name.cp936.c_str(), newName.cp936.c_str(),
                                            static_cast<int>(account->level), account->mask);
    switch (status) {
        case Status::Ok:
            return "changed user " + name.utf8.str() + "\n";
        case Status::NoSuchUser:
            throw failed("no such user: " + name.utf8.str());
        case Status::NameTaken:
            throw failed("user exists: " + newName.utf8.str());
        case Status::LastAdministrator:
            throw failed(name.utf8.str() + " is the last level-4 user and cannot be demoted");
        case Status::Denied:
            throw failed(
                "not allowed: " + name.utf8.str() +
                " or the level given is not below your own, or an item is not yours to grant");
        default:
            throw storeFailure(status, *calls);
    }
}

const char* UserdelCommand::help() const {
    return "usage: keyward userdel NAME\n"
           "\n"
           "Deletes user NAME. The store's last level-4 user cannot be deleted.\n";
}

std::string UserdelCommand::run(const Args& args) {
    const TextArg name = nameArg(args.positional[0], "user name");
    const auto calls = openStore(Access::Administer);
    const Status status = calls->deleteUser(name.cp936.c_str());
    switch (status) {
        case Status::Ok:
            return "deleted user " + name.utf8.str() + "\n";
        case Status::NoSuchUser:
            throw failed("no such user: " + name.utf8.str());
        case Status::LastAdministrator:
            throw failed(name.utf8.str() + " is the last level-4 user and cannot be deleted");
        case Status::Denied:
            throw failed("not allowed: " + name.utf8.str() + "'s level is not below your own");
        default:
            throw storeFailure(status, *calls);
    }
}

}  // namespace keyward::cli
