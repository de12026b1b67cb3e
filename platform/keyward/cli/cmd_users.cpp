#include <algorithm>

#include "command.h"
#include "commands.h"
#include "terminal.h"

namespace keyward::cli {

namespace {

int levelArg(const std::string& text) {
    if (text.size() == 1 && text[0] >= '0' && text[0] < '0' + KEYWARD_LEVEL_COUNT)
        return text[0] - '0';
    throw usageError("bad level " + text + "; use 0 to 4");
}

// Comma-separated item names into a mask, by their positions in the list.
std::uint32_t itemsMask(Database& db, const std::string& list) {
    std::vector<std::string> items;
    Statement st(db, "SELECT name FROM limits ORDER BY id");
    while (st.step()) items.push_back(st.text(0));
    std::uint32_t mask = 0;
    if (list.empty()) return mask;
    for (std::size_t start = 0;;) {
        const std::size_t end = std::min(list.find(',', start), list.size());
        const TextArg name = nameArg(list.substr(start, end - start), "item name");
        const auto it = std::find(items.begin(), items.end(), name.utf8.str());
        if (it == items.end()) throw failed("no such permission item: " + name.utf8.str());
        mask |= 1u << (it - items.begin());
        if (end == list.size()) return mask;
        start = end + 1;
    }
}

struct Account {
    int level;
    std::uint32_t mask;
};

std::optional<Account> findUser(Database& db, const TextArg& name) {
    Statement st(db, "SELECT level, mask FROM users WHERE name = ?");
    st.bind(1, name.utf8.str());
    if (!st.step()) return std::nullopt;
    return Account{static_cast<int>(st.integer(0)), static_cast<std::uint32_t>(st.integer(1))};
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
    std::uint32_t mask = 0;
    {
        Database db = openExisting();
        try {
            Transaction tx(db, Transaction::Kind::Read);
            // Refused before the password is asked for; the store checks again.
            if (findUser(db, name)) throw failed("user exists: " + name.utf8.str());
            mask = itemsMask(db, args.value(kItemsOption.name).value_or(""));
            tx.commit();
        } catch (const DbError& e) {
            throw dbFailure(e);
        }
    }
    const SecretString password = newPassword(args.has(kPasswordStdinOption.name));
    const Status status = adminStore()->addUser(name.cp936.c_str(), password.c_str(), level, mask);
    if (status == Status::NameTaken) throw failed("user exists: " + name.utf8.str());
    if (status != Status::Ok) throw storeFailure(status);
    return "added user " + name.utf8.str() + "\n";
}

const char* UsermodCommand::help() const {
    return "usage: keyward usermod NAME [--rename NEW] [--level N] [--items ITEM,...]\n"
           "\n"
           "Changes user NAME: its name, its level (0 to 4), or the permission items\n"
           "it holds (--items '' for none). What is not given stays; so does the\n"
           "password. The store's last level-4 user cannot be demoted.\n"
           "\n"
           "  --rename NEW         the user's new name\n"
           "  -l, --level N        the user's level\n"
           "  -i, --items LIST     item names separated by commas\n";
}

std::string UsermodCommand::run(const Args& args) {
    const TextArg name = nameArg(args.positional[0], "user name");
    if (!args.has("--rename") && !args.has(kLevelOption.name) && !args.has(kItemsOption.name))
        throw usageError("nothing to change; give --rename, --level or --items");
    const TextArg newName =
        nameArg(args.value("--rename").value_or(args.positional[0]), "new name");
    std::optional<Account> account;
    {
        Database db = openExisting();
        try {
            Transaction tx(db, Transaction::Kind::Read);
            account = findUser(db, name);
            if (account && args.has(kItemsOption.name))
                account->mask = itemsMask(db, *args.value(kItemsOption.name));
            tx.commit();
        } catch (const DbError& e) {
            throw dbFailure(e);
        }
    }
    if (!account) throw failed("no such user: " + name.utf8.str());
    if (args.has(kLevelOption.name)) account->level = levelArg(*args.value(kLevelOption.name));

    const Status status = adminStore()->changeUser(name.cp936.c_str(), newName.cp936.c_str(),
                                                   account->level, account->mask);
    switch (status) {
        case Status::Ok:
            return "changed user " + name.utf8.str() + "\n";
        case Status::NoSuchUser:
            throw failed("no such user: " + name.utf8.str());
        case Status::NameTaken:
            throw failed("user exists: " + newName.utf8.str());
        case Status::LastAdministrator:
            throw failed(name.utf8.str() + " is the last level-4 user and cannot be demoted");
        default:
            throw storeFailure(status);
    }
}

const char* UserdelCommand::help() const {
    return "usage: keyward userdel NAME\n"
           "\n"
           "Deletes user NAME. The store's last level-4 user cannot be deleted.\n";
}

std::string UserdelCommand::run(const Args& args) {
    const TextArg name = nameArg(args.positional[0], "user name");
    openExisting();  // never create a database just to fail on its user
    const Status status = adminStore()->deleteUser(name.cp936.c_str());
    switch (status) {
        case Status::Ok:
            return "deleted user " + name.utf8.str() + "\n";
        case Status::NoSuchUser:
            throw failed("no such user: " + name.utf8.str());
        case Status::LastAdministrator:
            throw failed(name.utf8.str() + " is the last level-4 user and cannot be deleted");
        default:
            throw storeFailure(status);
    }
}

}  // namespace keyward::cli
