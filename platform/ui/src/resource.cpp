// Resource registries and icons.
#include <png.h>

#include <QImage>
#include <QPixmap>
#include <QSysInfo>
#include <algorithm>
#include <iterator>
#include <map>

#include "icons.h"

struct HICON__ {
    int id;
    QIcon icon;
};

namespace ui {
namespace {
template <class T>
std::map<int, T>& registry() {
    static std::map<int, T> s_registry;
    return s_registry;
}
}  // namespace

void RegisterDialog(DialogTemplate t) {
    const int id = t.id;
    registry<DialogTemplate>()[id] = std::move(t);
}
void RegisterMenu(MenuTemplate t) {
    const int id = t.id;
    registry<MenuTemplate>()[id] = std::move(t);
}
void RegisterString(UINT id, const char* text) {
    registry<std::string>()[int(id)] = text ? text : "";
}
void RegisterIcon(IconResource icon) {
    const int id = icon.id;
    registry<IconResource>()[id] = std::move(icon);
}

const DialogTemplate* FindDialog(int id) {
    auto& r = registry<DialogTemplate>();
    auto it = r.find(id);
    return it == r.end() ? nullptr : &it->second;
}
const MenuTemplate* FindMenu(int id) {
    auto& r = registry<MenuTemplate>();
    auto it = r.find(id);
    return it == r.end() ? nullptr : &it->second;
}
const char* FindString(UINT id) {
    auto& r = registry<std::string>();
    auto it = r.find(int(id));
    return it == r.end() ? nullptr : it->second.c_str();
}
const IconResource* FindIcon(int id) {
    auto& r = registry<IconResource>();
    auto it = r.find(id);
    return it == r.end() ? nullptr : &it->second;
}

}  // namespace ui

namespace ui::detail {

namespace {

// PNG through libpng, which Qt loads anyway: Qt's image reader first loads
// every image format plugin to ask whether it reads PNG, a cost each start
// paid for its icon. A null pixmap when the image is no 8-bit PNG.
QPixmap decodePng(const std::vector<unsigned char>& bytes) {
    static const unsigned char kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    // Only 8-bit samples: libpng takes 16-bit ones for linear light where
    // Qt does not. The bit depth is the 25th byte, in the header chunk.
    if (bytes.size() < 33 ||
        !std::equal(std::begin(kSignature), std::end(kSignature), bytes.begin()) || bytes[24] != 8)
        return {};
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&png, bytes.data(), bytes.size())) return {};
    // QImage's ARGB32 is one native 32-bit word per pixel.
    png.format = QSysInfo::ByteOrder == QSysInfo::LittleEndian ? PNG_FORMAT_BGRA : PNG_FORMAT_ARGB;
    QImage image(int(png.width), int(png.height), QImage::Format_ARGB32);
    if (image.isNull() || !png_image_finish_read(&png, nullptr, image.bits(),
                                                 png_int_32(image.bytesPerLine()), nullptr)) {
        png_image_free(&png);
        return {};
    }
    return QPixmap::fromImage(std::move(image));
}

}  // namespace

HICON loadIcon(int id) {
    static std::map<int, std::unique_ptr<HICON__>> s_icons;
    auto it = s_icons.find(id);
    if (it != s_icons.end()) return it->second.get();
    const IconResource* res = FindIcon(id);
    if (!res) return nullptr;
    auto icon = std::make_unique<HICON__>();
    icon->id = id;
    for (const auto& image : res->images) {
        QPixmap pixmap = decodePng(image);
        if (pixmap.isNull()) pixmap.loadFromData(image.data(), uint(image.size()));
        if (!pixmap.isNull()) icon->icon.addPixmap(pixmap);
    }
    HICON h = icon.get();
    s_icons.emplace(id, std::move(icon));
    return h;
}

QIcon qiconOf(HICON icon) {
    return icon ? icon->icon : QIcon();
}

}  // namespace ui::detail
