#include "session.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace keyward::service {

namespace {

using wire::Op;
using wire::ProtocolError;
using wire::Reader;
using wire::Writer;

// A C argument as the store takes it: nullptr for an absent text.
const char* arg(const std::optional<std::string>& text) {
    return text ? text->c_str() : nullptr;
}

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

Session::Session(const std::string& location, const Caller& caller, OfflineLogins* offline)
    : m_offline(offline),
      m_caller(caller),
      m_store({Announce::SystemLogOnly, location, OpenMode::Create, true, caller,
               offline == nullptr
                   ? nullptr
                   : std::function(
                         [offline](const std::string& name, const std::optional<Credentials>& seen,
                                   Status verdict) { offline->answered(name, seen, verdict); })}) {}

// The store cannot be reached: a user who logged in here lately is checked
// against the copy of their verifier. The session then answers the calls
// about that user from the copy and changes nothing: a change fails as it
// would with nobody logged in.
Status Session::loginOffline(const std::optional<std::string>& name,
                             const std::optional<std::string>& password) {
    const TextArg n = fromCp936(arg(name), kNameRule);
    const TextArg p = fromCp936(arg(password), kPasswordRule);
    if (m_offline == nullptr || !n.ok() || !p.ok()) return Status::Unavailable;
    OfflineUser user;
    const auto status = m_offline->login(n.utf8.str(), p.utf8.str(), m_caller, user);
    if (!status) return Status::Unavailable;
    if (*status == Status::Ok) m_offlineUser = user;
    return *status;
}

void Session::answer(const std::string& request, Writer& reply) {
    Reader r(request);
    const auto op = static_cast<Op>(r.u8());
    if (op == Op::Hello) {
        const bool same = r.u32() == wire::kVersion;
        r.end();
        m_greeted = same;
        reply.i32(same ? 0 : -1);
        return;
    }
    if (!m_greeted) throw ProtocolError("no hello first");
    // Each request's arguments are read whole before the store is asked.
    switch (op) {
        case Op::Login: {
            auto name = r.text();
            auto password = r.text();
            r.end();
            Status status = m_store.login(arg(name), arg(password));
            if (status == Status::Ok) m_offlineUser.reset();
            if (status == Status::Unavailable) status = loginOffline(name, password);
            reply.i32(toCode(status));
            if (password) wire::wipe(*password);
            return;
        }
        case Op::CurrentName: {
            r.end();
            char name[32] = {};
            const Status status =
                m_offlineUser
                    ? (utf8ToField(m_offlineUser->name, name, sizeof name) ? Status::Ok
                                                                           : Status::InvalidText)
                    : m_store.currentNameInto(name);
            reply.i32(toCode(status)).text(std::string_view(name));
            return;
        }
        case Op::Level: {
            auto user = r.text();
            r.end();
            reply.i32(m_offlineUser && !user ? static_cast<int>(m_offlineUser->level)
                                             : m_store.level(arg(user)));
            return;
        }
        case Op::Mask: {
            auto user = r.text();
            r.end();
            reply.i32(0).u32(m_offlineUser && !user ? m_offlineUser->mask
                                                    : m_store.mask(arg(user)));
            return;
        }
        case Op::Holds: {
            auto item = r.text();
            auto user = r.text();
            r.end();
            bool holds = false;
            if (m_offlineUser && !user) {
                const TextArg i = fromCp936(arg(item), kNameRule);
                const auto bit = i.ok() ? m_offline->itemBit(i.utf8.str()) : std::nullopt;
                holds = bit && ((m_offlineUser->mask >> *bit) & 1u) != 0;
            } else {
                holds = m_store.holds(arg(item), arg(user));
            }
            reply.i32(holds ? 1 : 0);
            return;
        }
        case Op::CountUsers:
        case Op::CountLimits: {
            r.end();
            const bool users = op == Op::CountUsers;
            const int count = users ? m_store.listUsers(nullptr) : m_store.listLimits(nullptr);
            (users ? m_userCount : m_limitCount) = count >= 0 ? count : 0;
            reply.i32(count);
            return;
        }
        case Op::FillUsers: {
            r.end();
            std::vector<UserRecord> records(static_cast<std::size_t>(std::max(m_userCount, 0)));
            const int result = m_store.listUsers(records.data());
            reply.i32(result).bytes(
                result < 0 ? std::string_view()
                           : std::string_view(reinterpret_cast<const char*>(records.data()),
                                              records.size() * sizeof(UserRecord)));
            return;
        }
        case Op::FillLimits: {
            r.end();
            std::vector<LimitRecord> records(static_cast<std::size_t>(std::max(m_limitCount, 0)));
            const int result = m_store.listLimits(records.data());
            reply.i32(result).bytes(
                result < 0 ? std::string_view()
                           : std::string_view(reinterpret_cast<const char*>(records.data()),
                                              records.size() * sizeof(LimitRecord)));
            return;
        }
        case Op::AddUser: {
            auto name = r.text();
            auto password = r.text();
            const int level = r.i32();
            const std::uint32_t mask = r.u32();
            r.end();
            reply.i32(toCode(m_store.addUser(arg(name), arg(password), level, mask)));
            if (password) wire::wipe(*password);
            return;
        }
        case Op::ChangeUser: {
            auto cur = r.text();
            auto next = r.text();
            const int level = r.i32();
            const std::uint32_t mask = r.u32();
            r.end();
            reply.i32(toCode(m_store.changeUser(arg(cur), arg(next), level, mask)));
            return;
        }
        case Op::DeleteUser: {
            auto name = r.text();
            r.end();
            reply.i32(toCode(m_store.deleteUser(arg(name))));
            return;
        }
        case Op::ChangePassword: {
            auto name = r.text();
            auto old = r.text();
            auto next = r.text();
            r.end();
            reply.i32(toCode(m_store.changePassword(arg(name), arg(old), arg(next))));
            for (auto* secret : {&old, &next})
                if (*secret) wire::wipe(**secret);
            return;
        }
        case Op::ClearPassword: {
            auto name = r.text();
            r.end();
            reply.i32(toCode(m_store.clearPassword(arg(name))));
            return;
        }
        case Op::LimitTitle: {
            auto name = r.text();
            r.end();
            char title[32] = {};
            reply.i32(toCode(m_store.limitTitle(arg(name), title))).text(std::string_view(title));
            return;
        }
        case Op::AddLimit: {
            auto name = r.text();
            auto title = r.text();
            r.end();
            reply.i32(m_store.addLimit(arg(name), arg(title)));
            return;
        }
        case Op::DeleteLimit: {
            const int pos = r.i32();
            r.end();
            reply.i32(toCode(m_store.deleteLimit(pos)));
            return;
        }
        case Op::ActAsAdministrator:
            r.end();
            reply.i32(toCode(m_store.actAsAdministrator()));
            return;
        case Op::Initialise: {
            auto name = r.text();
            auto password = r.text();
            const std::uint32_t cost = r.u32();
            r.end();
            reply.i32(toCode(m_store.initialise(arg(name), arg(password), cost)));
            if (password) wire::wipe(*password);
            return;
        }
        case Op::SetPassword: {
            auto name = r.text();
            auto password = r.text();
            r.end();
            reply.i32(toCode(m_store.setPassword(arg(name), arg(password))));
            if (password) wire::wipe(*password);
            return;
        }
        case Op::Users: {
            r.end();
            std::vector<UserRow> rows;
            const Status status = m_store.users(rows);
            reply.i32(toCode(status))
                .text(m_store.why())
                .u32(static_cast<std::uint32_t>(rows.size()));
            for (const auto& row : rows) reply.text(row.name).i64(row.level).u32(row.mask);
            return;
        }
        case Op::Items: {
            r.end();
            std::vector<ItemRow> rows;
            const Status status = m_store.items(rows);
            reply.i32(toCode(status))
                .text(m_store.why())
                .u32(static_cast<std::uint32_t>(rows.size()));
            for (const auto& row : rows) reply.text(row.name).text(row.title);
            return;
        }
        case Op::Audit: {
            const auto since = r.text();
            r.end();
            std::vector<AuditRow> rows;
            const Status status = m_store.audit(since.value_or(""), rows);
            reply.i32(toCode(status))
                .text(m_store.why())
                .u32(static_cast<std::uint32_t>(rows.size()));
            for (const auto& row : rows)
                reply.text(row.at)
                    .text(row.actor)
                    .text(row.action)
                    .text(row.target)
                    .text(row.detail)
                    .text(row.outcome)
                    .text(row.osUser)
                    .i64(row.pid)
                    .text(row.host)
                    .text(row.address);
            return;
        }
        case Op::Check: {
            r.end();
            CheckReport report;
            const Status status = m_store.check(report);
            reply.i32(toCode(status)).text(m_store.why()).text(report.location);
            reply.u32(static_cast<std::uint32_t>(report.problems.size()));
            for (const auto& p : report.problems) reply.text(p);
            reply.u32(static_cast<std::uint32_t>(report.warnings.size()));
            for (const auto& w : report.warnings) reply.text(w);
            reply.i64(report.users).i64(report.items);
            return;
        }
        case Op::Snapshot:
            r.end();
            return snapshot(reply);
        case Op::Hello:
            break;
    }
    throw ProtocolError("unknown operation " + std::to_string(static_cast<int>(op)));
}

// The copy is made in a private folder of the service's and sent whole.
void Session::snapshot(Writer& reply) {
    std::string folder = (std::filesystem::temp_directory_path() / "keywardd-XXXXXX").string();
    if (mkdtemp(folder.data()) == nullptr) {
        reply.i32(toCode(Status::Unavailable))
            .text(std::string_view("cannot make a folder for the copy"));
        return;
    }
    const std::string file = folder + "/snapshot.db";
    const Status status = m_store.snapshot(file);
    reply.i32(toCode(status)).text(m_store.why());
    if (status == Status::Ok) {
        reply.bytes(fileBytes(file));
        std::error_code ec;
        if (std::filesystem::exists(file + ".key", ec))
            reply.text(fileBytes(file + ".key"));
        else
            reply.text(static_cast<const char*>(nullptr));
    }
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
}

}  // namespace keyward::service
