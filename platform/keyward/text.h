// Text at the store's edge: callers speak CP936, the database holds UTF-8.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace keyward {

// A string whose bytes are wiped when it goes away. Used for passwords and
// for every buffer a password passes through on its way to the hasher.
class SecretString {
public:
    SecretString() = default;
    explicit SecretString(std::size_t capacity) { m_text.reserve(capacity); }
    SecretString(const SecretString&) = delete;
    SecretString& operator=(const SecretString&) = delete;
    SecretString(SecretString&& other) noexcept;
    SecretString& operator=(SecretString&& other) noexcept;
    ~SecretString();

    std::string& str() { return m_text; }
    const std::string& str() const { return m_text; }
    const char* c_str() const { return m_text.c_str(); }

    void wipe();

private:
    std::string m_text;
};

// Converts between the two encodings. Fails (nullopt) on bytes that are not
// valid in the source encoding, on characters the target cannot hold, and on
// text that would not come back byte for byte, so nothing is ever replaced.
std::optional<SecretString> cp936ToUtf8(std::string_view cp936);
std::optional<SecretString> utf8ToCp936(std::string_view utf8);

// Why an argument was refused before the store looked at it.
enum class TextFault { None, Null, Invalid, Empty, TooLong };

// Limits on text coming in; lengths count CP936 bytes.
struct TextRule {
    std::size_t maxBytes;
    bool allowEmpty;
    bool allowControl;  // passwords may hold any byte; names and titles may not
};

inline constexpr TextRule kNameRule{31, false, false};
inline constexpr TextRule kTitleRule{31, true, false};
inline constexpr TextRule kPasswordRule{255, true, true};

// A validated argument in both encodings, or the reason it was refused.
struct TextArg {
    TextFault fault = TextFault::None;
    SecretString utf8;
    SecretString cp936;

    bool ok() const { return fault == TextFault::None; }
};

TextArg fromCp936(const char* text, const TextRule& rule);
TextArg fromUtf8(std::string_view text, const TextRule& rule);

// The largest field utf8ToField fills.
inline constexpr std::size_t kMaxFieldSize = 64;

// Stored UTF-8 text as CP936 in a fixed field of size bytes, NUL-terminated
// and zero-padded. Text that does not fit or could not be given back exactly
// (a hand-edited database) leaves the field zeroed rather than mangled: false.
bool utf8ToField(std::string_view utf8, char* field, std::size_t size);

}  // namespace keyward
