#include "connection.h"

#include "server_connection.h"
#include "sqlite_connection.h"

namespace keyward {

bool isServerLocation(std::string_view location) {
    return location.rfind("postgresql://", 0) == 0 || location.rfind("postgres://", 0) == 0;
}

std::unique_ptr<Connection> openConnection(const std::string& location, OpenMode mode) {
    if (isServerLocation(location)) return std::make_unique<ServerConnection>(location, mode);
    return std::make_unique<SqliteConnection>(location, mode);
}

std::int64_t queryInt(Connection& db, std::string_view sql) {
    Statement st(db, sql);
    return st.step() ? st.integer(0) : 0;
}

}  // namespace keyward
