#include "connection.h"

#include <cstring>

#include "server_connection.h"
#include "sqlite_connection.h"

namespace keyward {

std::unique_ptr<Connection> openConnection(const std::string& location, OpenMode mode) {
    if (isServerLocation(location)) return std::make_unique<ServerConnection>(location, mode);
    return std::make_unique<SqliteConnection>(location, mode);
}

std::string keyToHex(const AuditKey& key) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const char c : key.bytes) {
        const auto byte = static_cast<unsigned char>(c);
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 15];
    }
    return hex;
}

std::optional<AuditKey> auditKeyFromHex(std::string_view hex) {
    if (hex.size() != 2 * kAuditKeyBytes) return std::nullopt;
    AuditKey key;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        int value = 0;
        for (const char c : hex.substr(i, 2)) {
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                     : -1;
            if (digit < 0) {
                explicit_bzero(key.bytes.data(), key.bytes.size());
                return std::nullopt;
            }
            value = value * 16 + digit;
        }
        key.bytes += static_cast<char>(value);
    }
    return key;
}

std::int64_t queryInt(Connection& db, std::string_view sql) {
    Statement st(db, sql);
    return st.step() ? st.integer(0) : 0;
}

}  // namespace keyward
