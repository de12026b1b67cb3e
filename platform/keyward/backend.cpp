#include "backend.h"

#include <set>

#include "server_backend.h"
#include "server_connection.h"
#include "sql_backend.h"
#include "store/keyward.h"
#include "text.h"

namespace keyward {

namespace {

// Every text must go back to CP936 within the field the call interface has.
void checkText(const std::string& text, const char* what, bool mayBeEmpty,
               std::vector<std::string>& problems) {
    const TextArg arg = fromUtf8(text, mayBeEmpty ? kTitleRule : kNameRule);
    if (arg.fault == TextFault::TooLong)
        problems.push_back(std::string(what) + " longer than 31 bytes: " + text);
    else if (!arg.ok())
        problems.push_back(std::string(what) + " not valid text: " + text);
}

template <class Rows>
bool unique(const Rows& rows) {
    std::set<std::string> names;
    for (const auto& row : rows)
        if (!names.insert(row.name).second) return false;
    return true;
}

}  // namespace

std::unique_ptr<Backend> openBackend(const std::string& location, OpenMode mode) {
    if (isServerLocation(location))
        return std::make_unique<ServerBackend>(std::make_unique<ServerConnection>(location, mode));
    return std::make_unique<SqlBackend>(openConnection(location, mode));
}

void fillUser(UserRecord& out, std::string_view name, std::int64_t level, std::int64_t mask) {
    utf8ToField(name, out.name, sizeof out.name);
    out.level = static_cast<std::int32_t>(level);
    out.mask = static_cast<std::uint32_t>(mask);
}

void fillItems(Statement& st, int count, LimitRecord* out) {
    for (int i = 0; i < count && st.step(); ++i) {
        utf8ToField(st.text(0), out[i].name, sizeof out[i].name);
        utf8ToField(st.text(1), out[i].title, sizeof out[i].title);
    }
}

void checkRows(const std::vector<UserRow>& users, const std::vector<ItemRow>& items,
               std::vector<std::string>& problems) {
    if (items.size() > KEYWARD_MAX_LIMITS)
        problems.push_back(std::to_string(items.size()) + " permission items, at most 32");
    if (!unique(users)) problems.push_back("user names not unique");
    if (!unique(items)) problems.push_back("item names not unique");
    std::size_t badLevels = 0;
    for (const auto& user : users) badLevels += user.level < 0 || user.level > 4;
    if (badLevels != 0)
        problems.push_back(std::to_string(badLevels) + " user(s) with a level outside 0..4");
    for (const auto& user : users) checkText(user.name, "user name", false, problems);
    for (const auto& item : items) checkText(item.name, "item name", false, problems);
    for (const auto& item : items) checkText(item.title, "item title", true, problems);
}

}  // namespace keyward
