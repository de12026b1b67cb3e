// Resource registries and icons.
#include <QPixmap>
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

HICON loadIcon(int id) {
    static std::map<int, std::unique_ptr<HICON__>> s_icons;
    auto it = s_icons.find(id);
    if (it != s_icons.end()) return it->second.get();
    const IconResource* res = FindIcon(id);
    if (!res) return nullptr;
    auto icon = std::make_unique<HICON__>();
    icon->id = id;
    for (const auto& image : res->images) {
        QPixmap pixmap;
        if (pixmap.loadFromData(image.data(), uint(image.size()))) icon->icon.addPixmap(pixmap);
    }
    HICON h = icon.get();
    s_icons.emplace(id, std::move(icon));
    return h;
}

QIcon qiconOf(HICON icon) {
    return icon ? icon->icon : QIcon();
}

}  // namespace ui::detail
