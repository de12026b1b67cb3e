// The one place where CP936 bytes and Unicode meet, and where their lengths
// and positions are counted.
#include "cp936.h"

#include <errno.h>
#include <iconv.h>

namespace ui::detail {
namespace {

// Converts whole input or fails; never substitutes.
bool convert(const char* to, const char* from, std::string_view in, std::string& out) {
    iconv_t cd = iconv_open(to, from);
    if (cd == iconv_t(-1)) return false;
    out.assign(in.size() * 4 + 8, '\0');
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char* dst = out.data();
    size_t dstLeft = out.size();
    bool ok = iconv(cd, &src, &srcLeft, &dst, &dstLeft) != size_t(-1) && srcLeft == 0;
    if (ok) ok = iconv(cd, nullptr, nullptr, &dst, &dstLeft) != size_t(-1);
    iconv_close(cd);
    out.resize(ok ? out.size() - dstLeft : 0);
    return ok;
}

}  // namespace

QString decodeCp936(std::string_view bytes) {
    std::string utf8;
    if (convert("UTF-8", "CP936", bytes, utf8))
        return QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
    // Not valid CP936: show what can be shown rather than nothing.
    return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
}

std::string encodeCp936(const QString& text, bool* ok) {
    const QByteArray utf8 = text.toUtf8();
    std::string out;
    const bool done =
        convert("CP936", "UTF-8", std::string_view(utf8.constData(), size_t(utf8.size())), out);
    if (ok) *ok = done;
    return done ? out : std::string();
}

bool encodableInCp936(const QString& text) {
    bool ok = false;
    encodeCp936(text, &ok);
    return ok;
}

std::size_t prefixAtBoundary(std::string_view bytes, std::size_t maxBytes) {
    std::size_t n = 0;
    while (n < bytes.size()) {
        const std::size_t step =
            isLeadByte(static_cast<unsigned char>(bytes[n])) && n + 1 < bytes.size() ? 2 : 1;
        if (n + step > maxBytes) break;
        n += step;
    }
    return n;
}

namespace {
// Bytes of one UTF-16 unit in CP936. Outside ASCII the encoder decides (the
// euro sign is the single byte 0x80); what it cannot encode counts two, as
// the edits refuse it anyway.
int unitLength(QChar c) {
    if (c.unicode() < 0x80) return 1;
    bool ok = false;
    const std::string bytes = encodeCp936(QString(c), &ok);
    return ok ? int(bytes.size()) : 2;
}
}  // namespace

int cp936Length(const QString& text) {
    int bytes = 0;
    for (QChar c : text) bytes += unitLength(c);
    return bytes;
}

int charIndexForByte(const QString& text, int byteOffset) {
    int bytes = 0;
    for (int i = 0; i < text.size(); ++i) {
        if (bytes >= byteOffset) return i;
        bytes += unitLength(text.at(i));
    }
    return int(text.size());
}

int byteIndexForChar(const QString& text, int charIndex) {
    return cp936Length(text.left(charIndex));
}

}  // namespace ui::detail
