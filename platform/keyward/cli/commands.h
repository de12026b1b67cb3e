// The sub-commands of `keyward`.
#pragma once

#include "command.h"

namespace keyward::cli {

// Class, name, summary, number of arguments, then the command's own options.
#define KEYWARD_COMMAND(Class, Name, Summary, Arguments, ...)                      \
    class Class : public Command {                                                 \
    public:                                                                        \
        const char* name() const override { return Name; }                         \
        const char* summary() const override { return Summary; }                   \
        const char* help() const override;                                         \
        std::vector<OptionSpec> options() const override { return {__VA_ARGS__}; } \
        std::size_t arguments() const override { return Arguments; }               \
        std::string run(const Args& args) override;                                \
    };

inline const OptionSpec kPasswordStdinOption{"--password-stdin", false};
inline const OptionSpec kLevelOption{"--level", true, 'l'};
inline const OptionSpec kItemsOption{"--items", true, 'i'};

KEYWARD_COMMAND(InitCommand, "init", "create the database and its first administrator", 0,
                {"--admin", true, 'a'}, kPasswordStdinOption, {"--store", true},
                {"--system", false})
KEYWARD_COMMAND(UsersCommand, "users", "list the users", 0, kFormatOption)
KEYWARD_COMMAND(ItemsCommand, "items", "list the permission items", 0, kFormatOption)
KEYWARD_COMMAND(UseraddCommand, "useradd", "add a user", 1, kLevelOption, kItemsOption,
                kPasswordStdinOption)
KEYWARD_COMMAND(UsermodCommand, "usermod", "rename a user or change their level or items", 1,
                {"--rename", true}, kLevelOption, kItemsOption)
KEYWARD_COMMAND(UserdelCommand, "userdel", "delete a user", 1)
KEYWARD_COMMAND(PasswdCommand, "passwd", "set a user's password", 1, kPasswordStdinOption)
KEYWARD_COMMAND(ItemaddCommand, "itemadd", "append a permission item", 2)
KEYWARD_COMMAND(ItemdelCommand, "itemdel", "delete the last permission item", 1)
KEYWARD_COMMAND(AuditCommand, "audit", "show the audit trail", 0, {"--since", true}, kFormatOption)
KEYWARD_COMMAND(CheckCommand, "check", "check the database's integrity and invariants", 0)
KEYWARD_COMMAND(BackupCommand, "backup", "copy the database while it is in use", 1)
KEYWARD_COMMAND(MigrateCommand, "migrate",
                "copy the store into an empty one, such as a server's, or upgrade it", 0,
                {"--to", true}, {"--upgrade", false}, {"--store", true})

#undef KEYWARD_COMMAND

}  // namespace keyward::cli
