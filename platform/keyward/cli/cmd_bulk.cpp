#include <cerrno>
#include <cstdio>
#include <cstring>

#include "command.h"
#include "commands.h"

namespace keyward::cli {

namespace {

// The lines of a file (standard input for "-"), their ends stripped ("\n"
// or "\r\n"), in memory that is wiped: they hold passwords.
std::vector<SecretString> readLines(const std::string& file) {
    FILE* in = file == "-" ? stdin : std::fopen(file.c_str(), "re");
    if (in == nullptr) throw failed("cannot read " + file + ": " + std::strerror(errno));
    std::vector<SecretString> lines;
    SecretString line(256);
    const auto end = [&] {
        if (!line.str().empty() && line.str().back() == '\r') line.str().pop_back();
        lines.push_back(std::move(line));
        line = SecretString(256);
    };
    int c;
    while ((c = std::getc(in)) != EOF) {
        if (c == '\n')
            end();
        else
            line.str() += static_cast<char>(c);
    }
    if (!line.str().empty()) end();
    const bool bad = std::ferror(in) != 0;
    if (in != stdin) std::fclose(in);
    if (bad) throw failed("cannot read " + file);
    return lines;
}

// A bulk change's entries, each with its user's name (UTF-8) and the
// number of the line it came from.
template <class Entry>
struct Entries {
    std::vector<Entry> entries;
    std::vector<std::string> names;
    std::vector<std::size_t> lines;
};

// Runs parse(line, name) on every line that is not empty, which fills in
// the entry's name; a line it refuses is named by its number and ends the
// command.
template <class Entry, class Parse>
Entries<Entry> parseLines(const std::vector<SecretString>& lines, Parse parse) {
    Entries<Entry> out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].str().empty()) continue;
        std::string name;
        try {
            out.entries.push_back(parse(lines[i].str(), name));
        } catch (const Failure& f) {
            throw failed("line " + std::to_string(i + 1) + ": " + f.what() + "; none done");
        }
        out.names.push_back(name);
        out.lines.push_back(i + 1);
    }
    return out;
}

// The user name at the start of a line, up to end, in CP936; its UTF-8 into
// name.
std::string nameField(const std::string& line, std::size_t end, std::string& name) {
    TextArg arg = nameArg(line.substr(0, end), "user name");
    name = arg.utf8.str();
    return arg.cp936.str();
}

// The password from `from` to the line's end, in CP936.
SecretString passwordField(const std::string& line, std::size_t from) {
    SecretString utf8;
    utf8.str().assign(line, from);
    TextArg password = textArg(utf8.str(), kPasswordRule, "password");
    return std::move(password.cp936);
}

// Nothing, when the store did every entry; else the entry it refused, by its
// line, and why, or the store's own failure, which no line caused.
template <class Entry>
void done(Status status, Calls& calls, const Entries<Entry>& parsed, std::size_t failedAt) {
    if (status == Status::Ok) return;
    if (status == Status::Unavailable || status == Status::Busy || failedAt >= parsed.lines.size())
        throw failed(storeFailure(status, calls).what() + std::string("; none done"));
    const std::string& name = parsed.names[failedAt];
    std::string why;
    switch (status) {
        case Status::NoSuchUser:
            why = "no such user: " + name;
            break;
        case Status::NameTaken:
            why = "user exists: " + name;
            break;
        case Status::Denied:
            why = "not allowed: " + name + "'s level, or the level or an item given, is not yours";
            break;
        case Status::PasswordRefused:
            why = passwordRefused(calls).what();
            break;
        default:
            why = storeFailure(status, calls).what();
            break;
    }
    throw failed("line " + std::to_string(parsed.lines[failedAt]) + ": " + why + "; none done");
}

std::string usersText(std::size_t n) {
    return std::to_string(n) + (n == 1 ? " user" : " users");
}

}  // namespace

const char* NewusersCommand::help() const {
    return "usage: keyward newusers FILE\n"
           "\n"
           "Adds the users of FILE (- for standard input), every one or none, in one\n"
           "transaction. Each line is one user: four fields separated by tabs, the\n"
           "name, the level (0 to 4), the permission items (names separated by\n"
           "commas, empty for none) and the password (the rest of the line). Empty\n"
           "lines are skipped. The first line that cannot be added is named by its\n"
           "number, and nobody is added. Each password keeps the account policy's\n"
           "rules, and where the policy asks for it (must_change_initial) its user\n"
           "changes it at the first login. Keep the file where others cannot read it.\n";
}

std::string NewusersCommand::run(const Args& args) {
    const auto lines = readLines(args.positional[0]);
    const auto calls = openStore(Access::Administer);
    std::vector<ItemRow> items;
    if (const Status status = calls->items(items); status != Status::Ok)
        throw storeFailure(status, *calls);
    const auto parsed =
        parseLines<UserEntry>(lines, [&](const std::string& line, std::string& name) {
            std::size_t tabs[3];
            for (std::size_t t = 0, from = 0; t < 3; from = tabs[t++] + 1) {
                tabs[t] = line.find('\t', from);
                if (tabs[t] == std::string::npos)
                    throw failed(
                        "expected four fields separated by tabs: name, level, items, password");
            }
            UserEntry user;
            user.name = nameField(line, tabs[0], name);
            user.level = levelArg(line.substr(tabs[0] + 1, tabs[1] - tabs[0] - 1));
            user.mask = itemsMask(items, line.substr(tabs[1] + 1, tabs[2] - tabs[1] - 1));
            user.password = passwordField(line, tabs[2] + 1);
            return user;
        });
    std::size_t failedAt = 0;
    const Status status = calls->addUsers(parsed.entries, failedAt);
    done(status, *calls, parsed, failedAt);
    return "added " + usersText(parsed.entries.size()) + "\n";
}

const char* ChpasswdCommand::help() const {
    return "usage: keyward chpasswd\n"
           "\n"
           "Sets the passwords read from standard input, every one or none, in one\n"
           "transaction: one line per user, NAME:PASSWORD (the name up to the first\n"
           "colon, the password the rest of the line). Empty lines are skipped. The\n"
           "first line that cannot be done is named by its number, and no password\n"
           "changes. Each password keeps the account policy's rules, and where the\n"
           "policy asks for it (must_change_initial) its user changes it at the next\n"
           "login.\n";
}

std::string ChpasswdCommand::run(const Args&) {
    // With --login, its password is the first line of standard input.
    const auto calls = openStore(Access::Administer);
    const auto lines = readLines("-");
    const auto parsed =
        parseLines<PasswordEntry>(lines, [&](const std::string& line, std::string& name) {
            const std::size_t colon = line.find(':');
            if (colon == std::string::npos) throw failed("expected NAME:PASSWORD");
            PasswordEntry entry;
            entry.name = nameField(line, colon, name);
            entry.password = passwordField(line, colon + 1);
            return entry;
        });
    std::size_t failedAt = 0;
    const Status status = calls->setPasswords(parsed.entries, failedAt);
    done(status, *calls, parsed, failedAt);
    return "changed the passwords of " + usersText(parsed.entries.size()) + "\n";
}

}  // namespace keyward::cli
