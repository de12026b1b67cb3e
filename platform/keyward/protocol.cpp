#include "protocol.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace keyward::wire {

namespace {

template <class T>
void putLittle(std::string& out, T value) {
    for (std::size_t i = 0; i < sizeof(T); ++i)
        out += static_cast<char>((static_cast<std::uint64_t>(value) >> (8 * i)) & 0xff);
}

template <class T>
T getLittle(std::string_view bytes) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i)
        value |= std::uint64_t{static_cast<unsigned char>(bytes[i])} << (8 * i);
    return static_cast<T>(value);
}

// Reads n bytes. Until the frame's first byte arrives the wait is bounded by
// firstByte; from then on by deadline, which that byte sets to rest ahead.
bool readAll(int fd, char* buf, std::size_t n, std::optional<Deadline> firstByte,
             std::chrono::milliseconds rest, bool& started, Deadline& deadline) {
    std::size_t got = 0;
    while (got < n) {
        if (!ready(fd, POLLIN, started ? std::optional(deadline) : firstByte)) return false;
        const ssize_t r = ::recv(fd, buf + got, n - got, MSG_DONTWAIT);
        if (r == 0) return false;
        if (r < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return false;
        }
        if (!started) {
            started = true;
            deadline = std::chrono::steady_clock::now() + rest;
        }
        got += static_cast<std::size_t>(r);
    }
    return true;
}

}  // namespace

void wipe(std::string& s) {
    explicit_bzero(s.data(), s.capacity());
    s.clear();
}

Writer::~Writer() {
    wipe(m_payload);
}

Writer& Writer::u8(std::uint8_t value) {
    m_payload += static_cast<char>(value);
    return *this;
}

Writer& Writer::i32(std::int32_t value) {
    putLittle(m_payload, static_cast<std::uint32_t>(value));
    return *this;
}

Writer& Writer::u32(std::uint32_t value) {
    putLittle(m_payload, value);
    return *this;
}

Writer& Writer::i64(std::int64_t value) {
    putLittle(m_payload, static_cast<std::uint64_t>(value));
    return *this;
}

Writer& Writer::text(const char* value) {
    if (value == nullptr) return u8(0);
    return text(std::string_view(value));
}

Writer& Writer::text(const std::optional<std::string>& value) {
    if (!value) return u8(0);
    return text(std::string_view(*value));
}

Writer& Writer::text(std::string_view value) {
    u8(1);
    return bytes(value);
}

Writer& Writer::bytes(std::string_view value) {
    u32(static_cast<std::uint32_t>(value.size()));
    m_payload.append(value);
    return *this;
}

std::string_view Reader::take(std::size_t n) {
    if (m_rest.size() < n) throw ProtocolError("frame ends early");
    const std::string_view taken = m_rest.substr(0, n);
    m_rest.remove_prefix(n);
    return taken;
}

std::uint8_t Reader::u8() {
    return static_cast<std::uint8_t>(take(1)[0]);
}

std::int32_t Reader::i32() {
    return static_cast<std::int32_t>(getLittle<std::uint32_t>(take(4)));
}

std::uint32_t Reader::u32() {
    return getLittle<std::uint32_t>(take(4));
}

std::int64_t Reader::i64() {
    return static_cast<std::int64_t>(getLittle<std::uint64_t>(take(8)));
}

std::optional<std::string> Reader::text() {
    const std::uint8_t present = u8();
    if (present > 1) throw ProtocolError("bad text flag");
    if (present == 0) return std::nullopt;
    std::string value = bytes();
    // A C string ends at its first NUL: a text with one inside would be
    // read shorter than it was sent.
    if (value.find('\0') != std::string::npos) throw ProtocolError("NUL inside a text");
    return value;
}

std::string Reader::bytes() {
    const std::uint32_t n = u32();
    return std::string(take(n));
}

void Reader::end() const {
    if (!m_rest.empty()) throw ProtocolError("trailing bytes in a frame");
}

bool sendFrame(int fd, std::string_view payload, Deadline deadline) {
    std::string header;
    putLittle(header, static_cast<std::uint32_t>(payload.size()));
    for (std::string_view part : {std::string_view(header), payload}) {
        std::size_t sent = 0;
        while (sent < part.size()) {
            const ssize_t n =
                ::send(fd, part.data() + sent, part.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0) {
                if (errno == EINTR) continue;
                if (errno == EAGAIN && ready(fd, POLLOUT, deadline)) continue;
                return false;
            }
            sent += static_cast<std::size_t>(n);
        }
    }
    return true;
}

bool receiveFrame(int fd, std::size_t max, std::string& out,
                  std::optional<std::chrono::milliseconds> idle, std::chrono::milliseconds rest) {
    wipe(out);
    const std::optional<Deadline> firstByte =
        idle ? std::optional(std::chrono::steady_clock::now() + *idle) : std::nullopt;
    bool started = false;
    Deadline deadline{};
    char header[4];
    if (!readAll(fd, header, sizeof header, firstByte, rest, started, deadline)) return false;
    const auto size = getLittle<std::uint32_t>(std::string_view(header, sizeof header));
    if (size > max) throw ProtocolError("frame of " + std::to_string(size) + " bytes");
    out.resize(size);
    return readAll(fd, out.data(), size, firstByte, rest, started, deadline);
}

}  // namespace keyward::wire
