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

    // The whole input or nothing: EILSEQ and a cut-off sequence both fail.
    std::optional<SecretString> run(std::string_view in) {
        // CP936 -> UTF-8 at most triples the size (two bytes -> up to three
        // for a Chinese character, one byte 0x80 -> three for the euro sign).
        const std::size_t room = in.size() * 3 + 4;
        SecretString out(room);
        out.str().resize(room);
        char* src = const_cast<char*>(in.data());
        std::size_t srcLeft = in.size();
        char* dst = out.str().data();
        std::size_t dstLeft = room;
        if (iconv(m_cd, &src, &srcLeft, &dst, &dstLeft) == static_cast<std::size_t>(-1))
            return std::nullopt;
        if (iconv(m_cd, nullptr, nullptr, &dst, &dstLeft) == static_cast<std::size_t>(-1))
            return std::nullopt;
        out.str().resize(room - dstLeft);
        return out;
    }

private:
    iconv_t m_cd;
};

std::optional<SecretString> convert(const char* to, const char* from, std::string_view in) {
    Converter conv(to, from);
    if (!conv.valid()) return std::nullopt;
    return conv.run(in);
}

// Both directions must agree: a few CP936 codes share a Unicode character,
// and such text could not be listed back as it was given.
std::optional<SecretString> convertExact(const char* to, const char* from, std::string_view in) {
    auto there = convert(to, from, in);
    if (!there) return std::nullopt;
    auto back = convert(from, to, there->str());
    if (!back || back->str() != in) return std::nullopt;
    return there;
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
    return convertExact("UTF-8", "CP936", cp936);
}

std::optional<SecretString> utf8ToCp936(std::string_view utf8) {
    return convertExact("CP936", "UTF-8", utf8);
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

bool copyToField(const std::string& cp936, char* field, std::size_t size) {
    std::memset(field, 0, size);
    if (cp936.size() >= size) return false;
    std::memcpy(field, cp936.data(), cp936.size());
    return true;
}

}  // namespace keyward
