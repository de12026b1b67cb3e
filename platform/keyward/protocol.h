// The account service's wire: frames over a local stream socket. A frame is
// a 32-bit little-endian length and that many bytes; a request is an
// operation byte and its arguments, a reply a 32-bit result code and what
// the operation returns. Numbers are little-endian; a text is a present flag
// and, when present, a 32-bit length and its bytes, never a NUL among them.
// The first request of a connection is Hello with the protocol's version.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "deadline.h"

namespace keyward::wire {

// 2: audit rows carry the address a server saw; a check carries warnings.
inline constexpr std::uint32_t kVersion = 2;
// Requests carry a few short texts; replies may carry a whole store.
inline constexpr std::size_t kMaxRequest = 64 * 1024;
inline constexpr std::size_t kMaxReply = std::size_t{1} << 30;

enum class Op : std::uint8_t {
    Hello = 1,
    Login,
    CurrentName,
    Level,
    Mask,
    Holds,
    CountUsers,
    FillUsers,
    AddUser,
    ChangeUser,
    DeleteUser,
    ChangePassword,
    ClearPassword,
    CountLimits,
    FillLimits,
    LimitTitle,
    AddLimit,
    DeleteLimit,
    ActAsAdministrator,
    Initialise,
    SetPassword,
    Users,
    Items,
    Audit,
    Check,
    Snapshot,
    Last = Snapshot,
};

// A frame that breaks the protocol: the connection is dropped.
class ProtocolError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Builds one frame's payload. Its bytes are wiped when it goes: requests
// carry passwords.
class Writer {
public:
    Writer() = default;
    Writer(Writer&&) = default;
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;
    ~Writer();

    Writer& u8(std::uint8_t value);
    Writer& i32(std::int32_t value);
    Writer& u32(std::uint32_t value);
    Writer& i64(std::int64_t value);
    // A text, or absent for nullptr / nullopt.
    Writer& text(const char* value);
    Writer& text(const std::optional<std::string>& value);
    Writer& text(std::string_view value);
    Writer& text(const std::string& value) { return text(std::string_view(value)); }
    // Raw bytes with their length.
    Writer& bytes(std::string_view value);

    const std::string& payload() const { return m_payload; }

private:
    std::string m_payload;
};

// Reads one frame's payload; every read past the end or of a malformed
// field throws ProtocolError.
class Reader {
public:
    explicit Reader(std::string_view payload) : m_rest(payload) {}

    std::uint8_t u8();
    std::int32_t i32();
    std::uint32_t u32();
    std::int64_t i64();
    std::optional<std::string> text();
    std::string bytes();
    // The request holds nothing more.
    void end() const;

private:
    std::string_view take(std::size_t n);
    std::string_view m_rest;
};

// Sends one frame; false when the peer is gone or does not take it by the
// deadline.
bool sendFrame(int fd, std::string_view payload, Deadline deadline);

// Receives one frame of at most max bytes into out (wiped first). Waits
// for its first byte until idle (nullopt: no limit), then for the rest until
// a deadline of its own. Throws ProtocolError for a frame too large; false
// when the peer is gone or too slow.
bool receiveFrame(int fd, std::size_t max, std::string& out,
                  std::optional<std::chrono::milliseconds> idle, std::chrono::milliseconds rest);

// Wipes a string's whole buffer.
void wipe(std::string& s);

}  // namespace keyward::wire
