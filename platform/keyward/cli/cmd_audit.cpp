#include <cctype>

#include "command.h"
#include "commands.h"
#include "table.h"

namespace keyward::cli {

namespace {

// Accepts YYYY-MM-DD, optionally followed by 'T' or ' ' and HH:MM[:SS] and
// a 'Z'; returns the form stored times compare with as text.
std::string normaliseTime(const std::string& text) {
    std::string t = text;
    if (!t.empty() && t.back() == 'Z') t.pop_back();
    if (t.size() > 10 && t[10] == ' ') t[10] = 'T';
    static const std::string shapes[] = {"dddd-dd-dd", "dddd-dd-ddTdd:dd", "dddd-dd-ddTdd:dd:dd"};
    for (const auto& shape : shapes) {
        if (shape.size() != t.size()) continue;
        bool fits = true;
        for (std::size_t i = 0; i < shape.size(); ++i)
            fits = fits && (shape[i] == 'd' ? std::isdigit(static_cast<unsigned char>(t[i])) != 0
                                            : shape[i] == t[i]);
        if (fits) return t;
    }
    throw usageError("bad time " + text + ": use YYYY-MM-DD[THH:MM[:SS]] (UTC)");
}

}  // namespace

const char* AuditCommand::help() const {
    return "usage: keyward audit [--since TIME]\n"
           "\n"
           "Shows the audit trail, oldest first: UTC time, acting user (- for none),\n"
           "action, target, outcome and detail. TIME is UTC, YYYY-MM-DD with an\n"
           "optional THH:MM or THH:MM:SS.\n";
}

std::string AuditCommand::run(const std::vector<std::string>& argv) {
    const Args args = parseArgs(argv, {{"--since", true}}, 0);
    const std::string since = args.has("--since") ? normaliseTime(*args.value("--since")) : "";
    Database db = openExisting(OpenMode::ReadOnly);
    try {
        Transaction tx(db, Transaction::Kind::Read);
        Table table({"time", "actor", "action", "target", "outcome", "detail"});
        Statement st(db,
                     "SELECT at, ifnull(actor, '-'), action, ifnull(target, '-'), outcome, "
                     "ifnull(detail, '') "
                     "FROM audit WHERE at >= ? ORDER BY id");
        st.bind(1, since);
        while (st.step())
            table.add({st.text(0), st.text(1), st.text(2), st.text(3), st.text(4), st.text(5)});
        tx.commit();
        return table.render();
    } catch (const DbError& e) {
        throw dbFailure(e);
    }
}

}  // namespace keyward::cli
