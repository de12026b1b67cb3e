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
    openExisting();
    const int bit = adminStore()->addLimit(name.cp936.c_str(), title.cp936.c_str());
    if (bit == toCode(Status::ItemExists))
        throw failed("permission item exists: " + name.utf8.str());
    if (bit < 0) {
        for (const Status status : {Status::ItemsFull, Status::Busy, Status::Unavailable})
            if (bit == toCode(status)) throw storeFailure(status);
        throw failed("permission item not added");
    }
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
    std::int64_t bit = -1;
    std::int64_t count = 0;
    {
        Database db = openExisting();
        try {
            Transaction tx(db, Transaction::Kind::Read);
            Statement st(db, "SELECT name FROM limits ORDER BY id");
            for (; st.step(); ++count)
                if (st.text(0) == name.utf8.str()) bit = count;
            tx.commit();
        } catch (const DbError& e) {
            throw dbFailure(e);
        }
    }
    if (bit < 0) throw failed("no such permission item: " + name.utf8.str());
    if (bit != count - 1)
        throw failed("only the last item can be deleted; " + name.utf8.str() + " is bit " +
                     std::to_string(bit) + " of " + std::to_string(count));
    const Status status = adminStore()->deleteLimit(static_cast<int>(bit));
    if (status != Status::Ok) throw storeFailure(status);
    return "deleted item " + name.utf8.str() + " (bit " + std::to_string(bit) + ")\n";
}

}  // namespace keyward::cli
