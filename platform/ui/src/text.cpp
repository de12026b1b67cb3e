// The one place where CP936 bytes and Unicode meet.
#include <errno.h>
#include <iconv.h>

#include <mutex>

#include "core.h"

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

QString fromCp936(std::string_view bytes) {
    std::string utf8;
    if (convert("UTF-8", "CP936", bytes, utf8))
        return QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
    // Not valid CP936: show what can be shown rather than nothing.
    return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
}

std::string toCp936(const QString& text, bool* ok) {
    const QByteArray utf8 = text.toUtf8();
    std::string out;
    const bool done =
        convert("CP936", "UTF-8", std::string_view(utf8.constData(), size_t(utf8.size())), out);
    if (ok) *ok = done;
    return done ? out : std::string();
}

bool encodableInCp936(const QString& text) {
    bool ok = false;
    toCp936(text, &ok);
    return ok;
}

}  // namespace ui::detail
