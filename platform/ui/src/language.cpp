#include "language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "cp936.h"
#include "ui/resource.h"

namespace ui {
namespace {

struct Catalog {
    std::string language;
    const unsigned char* mo;
    std::size_t size;
};

std::vector<Catalog>& catalogs() {
    static std::vector<Catalog> s_catalogs;
    return s_catalogs;
}

}  // namespace

void RegisterTranslation(const char* language, const unsigned char* mo, std::size_t size) {
    catalogs().push_back({language ? language : "", mo, size});
}

}  // namespace ui

namespace ui::detail {
namespace {

using Texts = std::map<std::string, std::string, std::less<>>;

// A compiled gettext catalog (msgfmt's .mo, in the byte order of the
// machine that built it, this one): a header, then tables of (length,
// offset) for the original texts and for their translations. UTF-8 on both
// sides; here CP936, as the program holds its texts.
Texts readCatalog(const unsigned char* mo, std::size_t size) {
    Texts texts;
    const auto word = [&](std::size_t at) -> std::uint32_t {
        if (at + 4 > size) return 0;
        std::uint32_t w;
        std::memcpy(&w, mo + at, 4);
        return w;
    };
    if (size < 20 || word(0) != 0x950412deu) return texts;
    const std::uint32_t count = word(8);
    const std::uint32_t originals = word(12);
    const std::uint32_t translations = word(16);
    const auto text = [&](std::uint32_t table, std::uint32_t i) -> QString {
        const std::uint32_t length = word(table + 8 * std::size_t(i));
        const std::uint32_t offset = word(table + 8 * std::size_t(i) + 4);
        if (std::size_t(offset) + length > size) return QString();
        return QString::fromUtf8(reinterpret_cast<const char*>(mo + offset), qsizetype(length));
    };
    for (std::uint32_t i = 0; i < count; ++i) {
        const QString original = text(originals, i);
        const QString translation = text(translations, i);
        // The first entry, with the empty text, is the catalog's header.
        if (original.isEmpty() || translation.isEmpty()) continue;
        texts.emplace(encodeCp936(original), encodeCp936(translation));
    }
    return texts;
}

// The texts of the operator's language, read once; null for the program's own.
const Texts* activeTexts() {
    static const Texts* s_texts = []() -> const Texts* {
        const std::string wanted =
            localeLanguage(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG"));
        for (const Catalog& c : ui::catalogs())
            if (!wanted.empty() && c.language == wanted)
                return new Texts(readCatalog(c.mo, c.size));  // kept for the process
        return nullptr;
    }();
    return s_texts;
}

}  // namespace

std::string localeLanguage(const char* lcAll, const char* lcMessages, const char* lang) {
    for (const char* value : {lcAll, lcMessages, lang}) {
        if (!value || !*value) continue;
        const std::string name(value, std::strcspn(value, "_.@"));
        return name == "C" || name == "POSIX" ? std::string() : name;
    }
    return std::string();
}

std::vector<std::string> translatedTexts() {
    std::vector<std::string> out;
    for (const Catalog& c : ui::catalogs())
        for (const auto& [original, text] : readCatalog(c.mo, c.size)) out.push_back(original);
    return out;
}

const char* translate(const char* source) {
    const Texts* texts = activeTexts();
    if (!texts || !source) return source;
    const auto it = texts->find(std::string_view(source));
    return it == texts->end() ? source : it->second.c_str();
}

QString translate(const QString& source) {
    if (!activeTexts()) return source;
    const std::string bytes = encodeCp936(source);
    const char* text = translate(bytes.c_str());
    return text == bytes.c_str() ? source : decodeCp936(text);
}

void installQtTranslation(QCoreApplication* app) {
    // Qt's texts are English of themselves; the program's own language
    // takes Debian's Chinese translation where it is installed.
    if (activeTexts()) return;
    auto* translator = new QTranslator(app);
    if (translator->load(QStringLiteral("qtbase_zh_CN"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
}

}  // namespace ui::detail

LPCTSTR AfxTr(LPCTSTR lpszText) {
    return ui::detail::translate(lpszText);
}
