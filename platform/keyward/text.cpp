#include "text.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace keyward {

SecretString::SecretString(SecretString&& other) noexcept {
    // Moving a short string copies its bytes, so the source is wiped.
    m_text.reserve(other.m_text.capacity());
    m_text.assign(other.m_text);
    other.wipe();
}

SecretString& SecretString::operator=(SecretString&& other) noexcept {
    if (this != &other) {
        wipe();
        m_text.reserve(other.m_text.capacity());
        m_text.assign(other.m_text);
        other.wipe();
    }
    return *this;
}

SecretString::~SecretString() {
    wipe();
}

void SecretString::wipe() {
    // capacity() excludes the terminator's byte, which is part of the buffer.
    explicit_bzero(m_text.data(), m_text.capacity() + 1);
    m_text.clear();
}

namespace {

class Converter {
public:
    Converter(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    ~Converter() {
        if (valid()) iconv_close(m_cd);
    }
    bool valid() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

    // The whole input or nothing: EILSEQ, a cut-off sequence and too little
    // room all fail. Returns the bytes written to out.
    std::optional<std::size_t> runInto(std::string_view in, char* out, std::size_t room) {
        if (!valid()) return std::nullopt;
        // A failed run may have left the converter mid-sequence.
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        char* src = const_cast<char*>(in.data());
        std::size_t srcLeft = in.size();
        char* dst = out;
        std::size_t dstLeft = room;
        if (iconv(m_cd, &src, &srcLeft, &dst, &dstLeft) == static_cast<std::size_t>(-1))
            return std::nullopt;
        if (iconv(m_cd, nullptr, nullptr, &dst, &dstLeft) == static_cast<std::size_t>(-1))
            return std::nullopt;
        return room - dstLeft;
    }

    std::optional<SecretString> run(std::string_view in) {
        // CP936 -> UTF-8 at most triples the size (two bytes -> up to three
        // for a Chinese character, one byte 0x80 -> three for the euro sign).
        const std::size_t room = in.size() * 3 + 4;
        SecretString out(room);
        out.str().resize(room);
        const auto size = runInto(in, out.str().data(), room);
        if (!size) return std::nullopt;
        out.str().resize(*size);
        return out;
    }

private:
    iconv_t m_cd;
};

// Opening a converter costs far more than converting a name, so each thread
// keeps one per direction.
Converter& toUtf8() {
    thread_local Converter conv("UTF-8", "CP936");
    return conv;
}

Converter& toCp936() {
    thread_local Converter conv("CP936", "UTF-8");
    return conv;
}

// Both directions must agree: a few CP936 codes share a Unicode character,
// and such text could not be listed back as it was given.
std::optional<SecretString> convertExact(Converter& there, Converter& back, std::string_view in) {
    auto out = there.run(in);
    if (!out) return std::nullopt;
    auto again = back.run(out->str());
    if (!again || again->str() != in) return std::nullopt;
    return out;
}

bool isAscii(std::string_view text) {
    for (unsigned char c : text)
        if (c >= 0x80) return false;
    return true;
}

bool hasControl(std::string_view cp936) {
    // In CP936 every byte below 0x80 stands for itself, trail bytes included
    // (they start at 0x40), so a plain byte scan is exact.
    for (unsigned char c : cp936)
        if (c < 0x20 || c == 0x7f) return true;
    return false;
}

TextFault check(const std::string& cp936, const TextRule& rule) {
    if (cp936.empty() && !rule.allowEmpty) return TextFault::Empty;
    if (cp936.size() > rule.maxBytes) return TextFault::TooLong;
    if (!rule.allowControl && hasControl(cp936)) return TextFault::Invalid;
    return TextFault::None;
}

}  // namespace

std::optional<SecretString> cp936ToUtf8(std::string_view cp936) {
    return convertExact(toUtf8(), toCp936(), cp936);
}

std::optional<SecretString> utf8ToCp936(std::string_view utf8) {
    return convertExact(toCp936(), toUtf8(), utf8);
}

TextArg fromCp936(const char* text, const TextRule& rule) {
    TextArg arg;
    if (text == nullptr) {
        arg.fault = TextFault::Null;
        return arg;
    }
    const std::string_view in(text);
    // Measure before converting: an overlong argument is refused as such.
    if (in.size() > rule.maxBytes) {
        arg.fault = TextFault::TooLong;
        return arg;
    }
    auto utf8 = cp936ToUtf8(in);
    if (!utf8) {
        arg.fault = TextFault::Invalid;
        return arg;
    }
    arg.cp936.str().reserve(in.size());
    arg.cp936.str().assign(in);
    arg.utf8 = std::move(*utf8);
    arg.fault = check(arg.cp936.str(), rule);
    return arg;
}

TextArg fromUtf8(std::string_view text, const TextRule& rule) {
    TextArg arg;
    auto cp936 = utf8ToCp936(text);
    if (!cp936) {
        arg.fault = TextFault::Invalid;
        return arg;
    }
    arg.utf8.str().reserve(text.size());
    arg.utf8.str().assign(text);
    arg.cp936 = std::move(*cp936);
    arg.fault = check(arg.cp936.str(), rule);
    return arg;
}

bool utf8ToField(std::string_view utf8, char* field, std::size_t size) {
    std::memset(field, 0, size);
    if (size == 0) return false;
    // ASCII is the same bytes in both encodings: most names need no converter.
    if (isAscii(utf8)) {
        if (utf8.size() >= size) return false;
        std::memcpy(field, utf8.data(), utf8.size());
        return true;
    }
    // No character takes more than three UTF-8 bytes per CP936 byte, so
    // longer text cannot fit; the check keeps the way back on the stack.
    char back[3 * kMaxFieldSize + 4];
    if (size > kMaxFieldSize || utf8.size() > 3 * (size - 1)) return false;
    const auto n = toCp936().runInto(utf8, field, size - 1);
    const auto m = n ? toUtf8().runInto({field, *n}, back, sizeof back) : std::nullopt;
    if (!m || std::string_view(back, *m) != utf8) {
        std::memset(field, 0, size);
        return false;
    }
    return true;
}

}  // namespace keyward
