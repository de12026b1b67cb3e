// The sub-commands of `keyward`.
#pragma once

#include "command.h"

namespace keyward::cli {

#define KEYWARD_COMMAND(Class, Name, Summary)                           \
    class Class : public Command {                                      \
    public:                                                             \
        const char* name() const override { return Name; }              \
        const char* summary() const override { return Summary; }        \
        const char* help() const override;                              \
        std::string run(const std::vector<std::string>& argv) override; \
    };

KEYWARD_COMMAND(InitCommand, "init", "create the database and its first administrator")
KEYWARD_COMMAND(UsersCommand, "users", "list the users")
KEYWARD_COMMAND(ItemsCommand, "items", "list the permission items")
KEYWARD_COMMAND(PasswdCommand, "passwd", "set a user's password")
KEYWARD_COMMAND(AuditCommand, "audit", "show the audit trail")
KEYWARD_COMMAND(CheckCommand, "check", "check the database's integrity and invariants")
KEYWARD_COMMAND(BackupCommand, "backup", "copy the database while it is in use")

#undef KEYWARD_COMMAND

}  // namespace keyward::cli
