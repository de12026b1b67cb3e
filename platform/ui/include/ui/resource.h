// Resources: dialog templates, menus, strings and icons, registered by the
// program's res/ at start-up and looked up by id.
#pragma once

#include <cstddef>
#include <vector>

#include "ui/types.h"

namespace ui {

enum class ControlKind { Button, Edit, Static, ComboBox, ListView, Icon };

struct ControlTemplate {
    ControlKind kind;
    const char* text;  // CP936; for an icon static, unused
    int id;
    int x, y, cx, cy;  // dialog units
    DWORD style;       // WS_*, BS_*, ES_*, SS_*, CBS_*, LVS_*
    int iconId = 0;    // icon statics only
};

struct DialogTemplate {
    int id;
    const char* caption;   // CP936
    int cx, cy;            // client size in dialog units
    const char* fontFace;  // CP936
    int pointSize;
    DWORD style;
    std::vector<ControlTemplate> controls;  // in tab order
};

struct MenuItemTemplate {
    const char* text;                     // CP936; null for a separator
    UINT id;                              // 0 for a pop-up or separator
    std::vector<MenuItemTemplate> items;  // a pop-up's entries
};

struct MenuTemplate {
    int id;
    std::vector<MenuItemTemplate> items;
};

struct IconResource {
    int id;
    // Images of the icon at several sizes (PNG or SVG file contents).
    std::vector<std::vector<unsigned char>> images;
};

void RegisterDialog(DialogTemplate t);
void RegisterMenu(MenuTemplate t);
void RegisterString(UINT id, const char* text);
void RegisterIcon(IconResource icon);
// The program's texts in another language: a gettext catalog compiled by
// msgfmt (.mo, UTF-8; the bytes must outlive the process), whose original
// texts are the program's own. Shown when the locale asks for `language`
// (LC_ALL, else LC_MESSAGES, else LANG: "en_US.UTF-8" asks for "en").
void RegisterTranslation(const char* language, const unsigned char* mo, std::size_t size);

const DialogTemplate* FindDialog(int id);
const MenuTemplate* FindMenu(int id);
const char* FindString(UINT id);
const IconResource* FindIcon(int id);

}  // namespace ui

// A text of the program in the operator's language: its translation, or the
// text itself (the same pointer). Templates, menus, column headings and
// message boxes are translated where they are shown; a format string is
// translated by this before its arguments go in.
LPCTSTR AfxTr(LPCTSTR lpszText);
