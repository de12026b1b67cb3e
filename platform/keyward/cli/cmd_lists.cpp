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
    return "usage: keyward users\n"
           "\n"
           "Lists the users in store order: name, level, permission mask and one\n"
           "character per permission item (item 0 first).\n";
}

std::string UsersCommand::run(const std::vector<std::string>& argv) {
    parseArgs(argv, {}, 0);
    Database db = openExisting(OpenMode::ReadOnly);
    try {
        Transaction tx(db, Transaction::Kind::Read);
        const auto items = queryInt(db, "SELECT count(*) FROM limits");
        Table table({"#", "name", "level", "mask", "items"});
        Statement st(db, "SELECT name, level, mask FROM users ORDER BY id");
        for (int row = 1; st.step(); ++row) {
            const auto level = st.integer(1);
            const auto mask = static_cast<std::uint32_t>(st.integer(2));
            table.add({std::to_string(row), st.text(0),
                       level >= 0 && level < KEYWARD_LEVEL_COUNT ? g_levelText[level]
                                                                 : std::to_string(level),
                       hex(mask), bitText(mask, items)});
        }
        tx.commit();
        return table.render();
    } catch (const DbError& e) {
        throw dbFailure(e);
    }
}

const char* ItemsCommand::help() const {
    return "usage: keyward items\n"
           "\n"
           "Lists the permission items: bit (position in every mask), name, title.\n";
}

std::string ItemsCommand::run(const std::vector<std::string>& argv) {
    parseArgs(argv, {}, 0);
    Database db = openExisting(OpenMode::ReadOnly);
    try {
        Transaction tx(db, Transaction::Kind::Read);
        Table table({"bit", "name", "title"});
        Statement st(db, "SELECT name, title FROM limits ORDER BY id");
        for (int bit = 0; st.step(); ++bit)
            table.add({std::to_string(bit), st.text(0), st.text(1)});
        tx.commit();
        return table.render();
    } catch (const DbError& e) {
        throw dbFailure(e);
    }
}

}  // namespace keyward::cli
