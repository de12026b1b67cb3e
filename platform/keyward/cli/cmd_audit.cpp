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
    return "usage: keyward audit [--since TIME] [--format=table|tsv|json]\n"
           "\n"
           "Shows the audit trail, oldest first: UTC time, acting user (- for none,\n"
           "os:NAME for the operating-system user who ran keyward), action, target,\n"
           "outcome and detail. TIME is UTC, YYYY-MM-DD with an optional THH:MM or\n"
           "THH:MM:SS.\n";
}

std::string AuditCommand::run(const Args& args) {
    const std::string since = args.has("--since") ? normaliseTime(*args.value("--since")) : "";
    const Format format = formatArg(args);
    Database db = openExisting(OpenMode::ReadOnly);
    try {
        Transaction tx(db, Transaction::Kind::Read);
        Table table({"time", "actor", "action", "target", "outcome", "detail"});
        Records records({"time", "actor", "action", "target", "outcome", "detail"});
        Statement st(db,
                     "SELECT at, actor, action, target, outcome, detail "
                     "FROM audit WHERE at >= ? ORDER BY id");
        st.bind(1, since);
        while (st.step()) {
            auto field = [&](int column) -> Value {
                if (auto text = st.optText(column)) return *text;
                return nullptr;
            };
            auto shown = [&](int column, const char* absent) {
                return st.optText(column).value_or(absent);
            };
            table.add(
                {st.text(0), shown(1, "-"), st.text(2), shown(3, "-"), st.text(4), shown(5, "")});
            records.add({field(0), field(1), field(2), field(3), field(4), field(5)});
        }
        tx.commit();
        return render(format, table, records);
    } catch (const DbError& e) {
        throw dbFailure(e);
    }
}

}  // namespace keyward::cli
