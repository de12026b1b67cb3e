// The store in an SQLite file: the embedded default.
#pragma once

#include <sqlite3.h>

#include "connection.h"

namespace keyward {

// The schema this code writes and reads (PRAGMA user_version).
inline constexpr int kSchemaVersion = 5;

// PRAGMA application_id of every store ("KWRD"): a file without it is not
// ours and is never written.
inline constexpr std::int32_t kApplicationId = 0x4b575244;

class SqliteConnection final : public Connection {
public:
    // Opens the store at path. Folders on the path may be symlinks; the file
    // itself must not be. Any file that is not a store (another program's
    // SQLite file, garbage, a folder) is refused with "not a keyward
    // database" and left untouched, its mode included; an older store
    // without the application id but with exactly one of our schemas is
    // adopted. A file this call created is removed again when it fails.
    // ":memory:" is a bare connection for comparing schemas.
    SqliteConnection(const std::string& path, OpenMode mode);
    ~SqliteConnection() override;

    std::unique_ptr<StatementImpl> prepare(std::string_view sql) override;
    void exec(const char* sql) override;
    void begin(TxKind kind) override;
    void commit() override;
    void rollback() noexcept override;
    std::int64_t changes() const override;
    void abandon() override;

    std::int64_t schemaVersion() override;
    std::int64_t currentSchemaVersion() const override { return kSchemaVersion; }
    std::int64_t issuedAuditIds() override;
    void noteAuditId(std::int64_t) override {}  // AUTOINCREMENT keeps it
    void continueIds(std::int64_t issuedAudit) override;
    std::vector<std::string> integrityProblems() override;
    std::int64_t firstChainedVersion() const override { return 2; }
    bool auditNamesCaller() override { return schemaVersion() >= 4; }
    bool auditNamesAddress() override { return schemaVersion() >= 5; }
    std::optional<AuditKey> auditKey(bool create) override;
    void backupInto(const std::string& file) override;

    sqlite3* handle() const { return m_db.get(); }
    // The file's own path, its folders resolved; empty in memory.
    const std::string& file() const { return m_real; }
    // Throws the DbError for rc, in the store's terms.
    [[noreturn]] void fail(int rc) const;

private:
    struct Closer {
        void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
    };
    // A bare connection to the resolved path real, for looking at a file.
    SqliteConnection(const std::string& real, const std::string& path, OpenMode mode);
    void open(const std::string& real, OpenMode mode);
    void recoverForReading(const std::string& real);
    std::string writeRefusal() const;
    void configure();
    void setUp(OpenMode mode);
    void tighten();
    DbError newerSchema(std::int64_t version) const;

    std::unique_ptr<sqlite3, Closer> m_db;
    std::string m_real;
    std::optional<AuditKey> m_key;
};

// The key file of the store in file real: beside it, "<file>.key".
std::string auditKeyFile(const std::string& real);

}  // namespace keyward
