#include "audit.h"

#include <gcrypt.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>

namespace keyward {

namespace {

struct Row {
    std::int64_t id = 0;
    std::string at;
    std::optional<std::string> actor;
    std::string action;
    std::optional<std::string> target;
    std::optional<std::string> detail;
    std::string outcome;
    std::int64_t pid = 0;
    std::optional<std::string> osUser;
    std::optional<std::string> host;
    std::optional<std::string> address;
};

// Length-prefixed, so no choice of texts can make two rows hash alike; a
// missing text differs from an empty one.
void put(std::string& out, const std::optional<std::string>& field) {
    if (!field) {
        out += "N;";
        return;
    }
    out += std::to_string(field->size()) + ":" + *field + ";";
}

// How links are made: keyed, or plain SHA-256 for a trail not yet keyed.
struct Scheme {
    std::optional<AuditKey> key;
};

constexpr const char* kKeyedMark = "hmac-sha256";

bool markedKeyed(Connection& db) {
    Statement st(db, "SELECT value FROM settings WHERE key = 'audit_chain'");
    return st.step() && st.text(0) == kKeyedMark;
}

Scheme schemeOf(Connection& db) {
    if (!markedKeyed(db)) return {};
    auto key = db.auditKey(false);
    if (!key)
        throw DbError(Fault::Unavailable,
                      "the audit trail of " + db.path() + " is keyed and its key is missing");
    return {std::move(key)};
}

std::string link(const Scheme& scheme, const std::string& previous, const Row& row) {
    std::string data;
    put(data, previous);
    put(data, std::to_string(row.id));
    put(data, row.at);
    put(data, row.actor);
    put(data, row.action);
    put(data, row.target);
    put(data, row.detail);
    put(data, row.outcome);
    put(data, std::to_string(row.pid));
    // Rows from before these fields link as they always did.
    if (row.osUser || row.host || row.address) {
        put(data, row.osUser);
        put(data, row.host);
    }
    if (row.address) put(data, row.address);

    // libgcrypt rather than OpenSSL: the desktop's own libraries load it
    // already, so the program's start pays for no further library.
    static const bool s_ready = gcry_check_version(GCRYPT_VERSION) != nullptr;
    if (!s_ready) throw DbError(Fault::Failed, "cannot hash the audit trail: libgcrypt too old");
    gcry_md_hd_t md = nullptr;
    if (gcry_md_open(&md, GCRY_MD_SHA256, scheme.key ? GCRY_MD_FLAG_HMAC : 0) != 0)
        throw DbError(Fault::Failed, "cannot hash the audit trail");
    std::unique_ptr<gcry_md_handle, decltype(&gcry_md_close)> owned(md, &gcry_md_close);
    if (scheme.key && gcry_md_setkey(md, scheme.key->bytes.data(), scheme.key->bytes.size()) != 0)
        throw DbError(Fault::Failed, "cannot key the audit trail's hash");
    gcry_md_write(md, data.data(), data.size());
    const unsigned char* digest = gcry_md_read(md, GCRY_MD_SHA256);
    std::string hex;
    char buf[3];
    for (unsigned int i = 0; i < 32; ++i) {
        std::snprintf(buf, sizeof buf, "%02x", digest[i]);
        hex += buf;
    }
    return hex;
}

std::string utcNow() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>(millis));
    return buf;
}

Row readRow(const Statement& st) {
    return {st.integer(0), st.text(1),    st.optText(2), st.text(3),
            st.optText(4), st.optText(5), st.text(6),    st.integer(7),
            st.optText(8), st.optText(9), st.optText(10)};
}

std::string lastLink(Connection& db) {
    Statement st(db, "SELECT coalesce(hash, '') FROM audit ORDER BY id DESC LIMIT 1");
    return st.step() ? st.text(0) : std::string();
}

// The id the next row gets: none is ever reused, not even the id of a
// removed last row, so removing rows at the end leaves a gap too.
std::int64_t nextId(Connection& db) {
    return std::max(db.issuedAuditIds(), queryInt(db, "SELECT coalesce(max(id), 0) FROM audit")) +
           1;
}

// Links rows in id order under scheme; only those without a link when
// onlyUnlinked.
void relink(Connection& db, const Scheme& scheme, bool onlyUnlinked) {
    std::string previous;
    Statement rows(db, "SELECT " + auditColumns(db) + ", hash FROM audit ORDER BY id");
    Statement update(db, "UPDATE audit SET hash = ? WHERE id = ?");
    while (rows.step()) {
        if (auto stored = rows.optText(11); stored && onlyUnlinked) {
            previous = *stored;
            continue;
        }
        const Row row = readRow(rows);
        previous = link(scheme, previous, row);
        update.bind(1, previous).bind(2, row.id);
        update.step();
        update.reset();
    }
}

std::optional<ChainBreak> verifyWith(Connection& db, const Scheme& scheme) {
    std::string previous;
    std::int64_t expectedId = 1;
    Statement rows(db,
                   "SELECT " + auditColumns(db) + ", coalesce(hash, '') FROM audit ORDER BY id");
    while (rows.step()) {
        const Row row = readRow(rows);
        if (row.id != expectedId)
            return ChainBreak{row.id, "row " + std::to_string(row.id) + ": row(s) " +
                                          std::to_string(expectedId) + ".." +
                                          std::to_string(row.id - 1) + " are missing"};
        const std::string stored = rows.text(11);
        if (link(scheme, previous, row) != stored)
            return ChainBreak{row.id, "row " + std::to_string(row.id) +
                                          ": does not match its link (it or the row before it "
                                          "was changed or removed)"};
        previous = stored;
        ++expectedId;
    }
    const auto issued = db.issuedAuditIds();
    if (issued >= expectedId)
        return ChainBreak{expectedId, "row(s) " + std::to_string(expectedId) + ".." +
                                          std::to_string(issued) + " at the end are missing"};
    return std::nullopt;
}

// address: the store has the column (rows for others carry none).
void insert(Connection& db, const Row& row, const std::string& hash, bool address) {
    Statement st(db, std::string("INSERT INTO audit(id, at, actor, action, target, detail, "
                                 "outcome, pid, os_user, host, hash") +
                         (address ? ", address) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"
                                  : ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    st.bind(1, row.id).bind(2, row.at).bind(3, row.actor).bind(4, row.action);
    st.bind(5, row.target).bind(6, row.detail).bind(7, row.outcome).bind(8, row.pid);
    st.bind(9, row.osUser).bind(10, row.host).bind(11, hash);
    if (address) st.bind(12, row.address);
    st.step();
    db.noteAuditId(row.id);
}

Row rowOf(std::int64_t id, const std::string& at, const AuditEntry& entry) {
    return {id,           at,           entry.actor,   entry.action,
            entry.target, entry.detail, entry.outcome, entry.pid,
            entry.osUser, entry.host,   entry.address};
}

void append(Connection& db, const Scheme& scheme, const AuditEntry& entry) {
    const Row row = rowOf(nextId(db), utcNow(), entry);
    insert(db, row, link(scheme, lastLink(db), row), db.auditNamesAddress());
}

}  // namespace

std::string utcText(std::int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buf;
}

// Older schemas do not record who asked; they read as if nobody was named.
std::string auditColumns(Connection& db) {
    return std::string("id, at, actor, action, target, detail, outcome, pid, ") +
           (db.auditNamesCaller() ? "os_user, host, " : "NULL, NULL, ") +
           (db.auditNamesAddress() ? "address" : "NULL");
}

void appendAudit(Connection& db, const AuditEntry& entry) {
    append(db, schemeOf(db), entry);
}

void chainUnlinkedRows(Connection& db) {
    relink(db, {}, true);
}

void keyTheChain(Connection& db) {
    auto key = db.auditKey(true);
    if (!key) return;
    const auto rows = queryInt(db, "SELECT count(*) FROM audit");
    const auto broken = rows > 0 ? verifyWith(db, {}) : std::nullopt;
    const Scheme keyed{std::move(key)};
    relink(db, keyed, false);
    db.exec("INSERT INTO settings(key, value) VALUES ('audit_chain', 'hmac-sha256')");
    if (rows == 0) return;
    std::string detail = std::to_string(rows) + " row(s) linked under the store's key";
    if (broken) detail += "; the trail was already broken at " + broken->reason;
    append(db, keyed,
           {std::nullopt, "audit_keyed", std::nullopt, detail, broken ? "broken" : "ok",
            std::nullopt, static_cast<std::int64_t>(getpid()), std::nullopt, std::nullopt});
}

CopiedTrail::CopiedTrail(Connection& db)
    : m_db(db), m_key(schemeOf(db).key), m_address(db.auditNamesAddress()) {}

CopiedTrail::~CopiedTrail() {
    if (m_key) explicit_bzero(m_key->bytes.data(), m_key->bytes.size());
}

void CopiedTrail::add(std::int64_t id, const std::string& at, const AuditEntry& entry) {
    const Row row = rowOf(id, at, entry);
    m_previous = link({m_key}, m_previous, row);
    insert(m_db, row, m_previous, m_address);
}

std::optional<ChainBreak> verifyChain(Connection& db) {
    return verifyWith(db, schemeOf(db));
}

}  // namespace keyward
