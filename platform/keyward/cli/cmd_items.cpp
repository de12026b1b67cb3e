#include "command.h"
#include "commands.h"

namespace keyward::cli {

const char* ItemaddCommand::help() const {
    return "usage: keyward itemadd NAME TITLE\n"
           "\n"
           "Appends the permission item NAME with the caption TITLE (may be empty)\n"
           "and prints its bit, its position in every user's mask. At most 32 items.\n";
}

std::string ItemaddCommand::run(const Args& args) {
    const TextArg name = nameArg(args.positional[0], "item name");
    const TextArg title = textArg(args.positional[1], kTitleRule, "item title");
    const auto calls = openStore(Access::Administer);
    const int bit = calls->addLimit(name.cp936.c_str(), title.cp936.c_str());
    if (bit == toCode(Status::ItemExists))
        throw failed("permission item exists: " + name.utf8.str());
    if (bit < 0) throw storeFailure(fromCode(bit), *calls);
    return "added item " + name.utf8.str() + " at bit " + std::to_string(bit) + "\n";
}

const char* ItemdelCommand::help() const {
    return "usage: keyward itemdel NAME\n"
           "\n"
           "Deletes the permission item NAME, which must be the last one: users hold\n"
           "items by position, so only the last can go without moving the others.\n"
           "Every mask drops that bit (an all-ones mask stays all-ones). sys_limit\n"
           "is never deleted.\n";
}

std::string ItemdelCommand::run(const Args& args) {
    const TextArg name = nameArg(args.positional[0], "item name");
    if (name.utf8.str() == SYS_LIMIT_NAME) throw failed("sys_limit cannot be deleted");
    const auto calls = openStore(Access::Administer);
    std::vector<ItemRow> items;
    if (const Status status = calls->items(items); status != Status::Ok)
        throw storeFailure(status, *calls);
    std::int64_t bit = -1;
    const auto count = static_cast<std::int64_t>(items.size());
    for (std::int64_t i = 0; i < count; ++i)
        if (items[static_cast<std::size_t>(i)].name == name.utf8.str()) bit = i;
    if (bit < 0) throw failed("no such permission item: " + name.utf8.str());
    if (bit != count - 1)
        throw failed("only the last item can be deleted; " + name.utf8.str() + " is bit " +
                     std::to_string(bit) + " of " + std::to_string(count));
    const Status status = calls->deleteLimit(static_cast<int>(bit));
    if (status != Status::Ok) throw storeFailure(status, *calls);
    return "deleted item " + name.utf8.str() + " (bit " + std::to_string(bit) + ")\n";
}

}  // namespace keyward::cli
