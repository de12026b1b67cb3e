#include <cstdio>

#include "command.h"
#include "commands.h"
#include "table.h"

namespace keyward::cli {

namespace {

// One character per item, item 0 first, as the program shows a mask.
std::string bitText(std::uint32_t mask, std::int64_t items) {
    std::string bits;
    for (std::int64_t i = 0; i < items; ++i) bits += ((mask >> i) & 1u) != 0 ? '1' : '0';
    return bits;
}

std::string hex(std::uint32_t mask) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08x", mask);
    return buf;
}

}  // namespace

const char* UsersCommand::help() const {
    return "usage: keyward users [--format=table|tsv|json]\n"
           "\n"
           "Lists the users in store order: name, level, permission mask and one\n"
           "character per permission item (item 0 first). The table is for people;\n"
           "tsv and json give the level and mask as numbers for scripts (see\n"
           "keyward(8) for the escapes).\n";
}

std::string UsersCommand::run(const Args& args) {
    const Format format = formatArg(args);
    const auto calls = openStore(Access::Read);
    std::vector<UserRow> users;
    std::vector<ItemRow> items;
    for (const Status status : {calls->users(users), calls->items(items)})
        if (status != Status::Ok) throw storeFailure(status, *calls);
    const auto itemCount = static_cast<std::int64_t>(items.size());
    Table table({"#", "name", "level", "mask", "items"});
    Records records({"name", "level", "mask", "items"});
    int row = 1;
    for (const auto& user : users) {
        const auto level = user.level;
        table.add(
            {std::to_string(row++), user.name,
             level >= 0 && level < KEYWARD_LEVEL_COUNT ? g_levelText[level] : std::to_string(level),
             hex(user.mask), bitText(user.mask, itemCount)});
        records.add({user.name, level, std::int64_t{user.mask}, bitText(user.mask, itemCount)});
    }
    return render(format, table, records);
}

const char* ItemsCommand::help() const {
    return "usage: keyward items [--format=table|tsv|json]\n"
           "\n"
           "Lists the permission items: bit (position in every mask), name, title.\n";
}

std::string ItemsCommand::run(const Args& args) {
    const Format format = formatArg(args);
    const auto calls = openStore(Access::Read);
    std::vector<ItemRow> items;
    if (const Status status = calls->items(items); status != Status::Ok)
        throw storeFailure(status, *calls);
    Table table({"bit", "name", "title"});
    Records records({"bit", "name", "title"});
    std::int64_t bit = 0;
    for (const auto& item : items) {
        table.add({std::to_string(bit), item.name, item.title});
        records.add({bit++, item.name, item.title});
    }
    return render(format, table, records);
}

}  // namespace keyward::cli
