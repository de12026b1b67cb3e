// CMenu: menus as plain data behind HMENU, shown as a QMenu only while a
// pop-up is tracked. Texts are CP936 with '&' mnemonics, as Qt reads them too.
#include <QAction>
#include <QMenu>
#include <QPointer>
#include <QTimer>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cp936.h"
#include "dispatch.h"
#include "handle.h"
#include "language.h"
#include "menus.h"
#include "modal.h"

namespace ui::detail {
struct MenuEntry;
}

// What an HMENU points at.
struct HMENU__ {
    std::vector<ui::detail::MenuEntry> items;
    CMenu* permanent = nullptr;      // the program's object that owns this menu
    std::unique_ptr<CMenu> wrapper;  // handed out by GetSubMenu and FromHandle
};

namespace ui::detail {
struct MenuEntry {
    UINT id = 0;  // command id; 0 for separators and pop-ups
    UINT state = MF_ENABLED;
    bool separator = false;
    std::string text;  // CP936
    std::unique_ptr<HMENU__> popup;
};
}  // namespace ui::detail

namespace {

using ui::detail::MenuEntry;

constexpr UINT kStateMask = MF_GRAYED | MF_DISABLED;

std::unique_ptr<HMENU__> buildMenu(const std::vector<ui::MenuItemTemplate>& items) {
    auto menu = std::make_unique<HMENU__>();
    for (const ui::MenuItemTemplate& t : items) {
        MenuEntry item;
        if (!t.text) {
            item.separator = true;
        } else {
            item.text = t.text;
            item.id = t.id;
            if (t.id == 0) item.popup = buildMenu(t.items);
        }
        menu->items.push_back(std::move(item));
    }
    return menu;
}

// The item named by command id (searched through pop-ups too, so a command
// can be greyed from the top menu) or by position; null when there is none.
MenuEntry* findItem(HMENU__* menu, UINT key, UINT flags) {
    if (!menu) return nullptr;
    if (flags & MF_BYPOSITION) return key < menu->items.size() ? &menu->items[key] : nullptr;
    for (MenuEntry& item : menu->items) {
        if (item.popup) {
            if (MenuEntry* found = findItem(item.popup.get(), key, flags)) return found;
        } else if (!item.separator && item.id == key) {
            return &item;
        }
    }
    return nullptr;
}

// Removes the item at `key`; by command it looks in pop-ups as findItem does.
bool eraseItem(HMENU__* menu, UINT key, UINT flags) {
    if (!menu) return false;
    auto& items = menu->items;
    if (flags & MF_BYPOSITION) {
        if (key >= items.size()) return false;
        items.erase(items.begin() + key);
        return true;
    }
    for (auto it = items.begin(); it != items.end(); ++it) {
        if (it->popup) {
            if (eraseItem(it->popup.get(), key, flags)) return true;
        } else if (!it->separator && it->id == key) {
            items.erase(it);
            return true;
        }
    }
    return false;
}

CMenu* wrapperOf(HMENU__* menu) {
    if (!menu) return nullptr;
    if (menu->permanent) return menu->permanent;
    if (!menu->wrapper) menu->wrapper = std::make_unique<CMenu>();
    // Re-attached each time: the program may have detached it with DestroyMenu.
    menu->wrapper->m_hMenu = menu;
    return menu->wrapper.get();
}

void fillQMenu(QMenu* target, const HMENU__& menu) {
    for (const MenuEntry& item : menu.items) {
        if (item.separator) {
            target->addSeparator();
        } else if (item.popup) {
            QMenu* sub =
                target->addMenu(ui::detail::decodeCp936(ui::detail::translate(item.text.c_str())));
            sub->setEnabled(!(item.state & kStateMask));
            fillQMenu(sub, *item.popup);
        } else {
            QAction* action = target->addAction(
                ui::detail::decodeCp936(ui::detail::translate(item.text.c_str())));
            action->setData(item.id);
            action->setEnabled(!(item.state & kStateMask));
        }
    }
}

}  // namespace

CMenu::CMenu() = default;

CMenu::~CMenu() {
    DestroyMenu();
}

BOOL CMenu::LoadMenu(UINT nIDResource) {
    const ui::MenuTemplate* t = ui::FindMenu(int(nIDResource));
    if (!t) return FALSE;
    DestroyMenu();
    // The handle's data belongs to this object until DestroyMenu.
    m_hMenu = buildMenu(t->items).release();
    m_hMenu->permanent = this;
    m_bOwned = TRUE;
    return TRUE;
}

BOOL CMenu::CreatePopupMenu() {
    DestroyMenu();
    m_hMenu = std::make_unique<HMENU__>().release();
    m_hMenu->permanent = this;
    m_bOwned = TRUE;
    return TRUE;
}

BOOL CMenu::DestroyMenu() {
    if (!m_hMenu) return FALSE;
    if (m_hMenu->permanent == this) m_hMenu->permanent = nullptr;
    if (m_bOwned) {
        std::unique_ptr<HMENU__> owned(m_hMenu);  // frees the whole tree
    }
    m_hMenu = nullptr;
    m_bOwned = FALSE;
    return TRUE;
}

CMenu* CMenu::GetSubMenu(int nPos) const {
    if (!m_hMenu || nPos < 0 || std::size_t(nPos) >= m_hMenu->items.size()) return nullptr;
    return wrapperOf(m_hMenu->items[std::size_t(nPos)].popup.get());
}

int CMenu::GetMenuItemCount() const {
    return m_hMenu ? int(m_hMenu->items.size()) : -1;
}

UINT CMenu::GetMenuItemID(int nPos) const {
    if (!m_hMenu || nPos < 0 || std::size_t(nPos) >= m_hMenu->items.size()) return UINT(-1);
    const MenuEntry& item = m_hMenu->items[std::size_t(nPos)];
    return item.popup ? UINT(-1) : item.id;
}

int CMenu::GetMenuString(UINT nIDItem, CString& rString, UINT nFlags) const {
    const MenuEntry* item = findItem(m_hMenu, nIDItem, nFlags);
    rString = item ? CString(item->text) : CString();
    return rString.GetLength();
}

UINT CMenu::EnableMenuItem(UINT nIDEnableItem, UINT nEnable) {
    MenuEntry* item = findItem(m_hMenu, nIDEnableItem, nEnable);
    if (!item) return UINT(-1);
    const UINT previous = item->state & kStateMask;
    item->state = nEnable & kStateMask;
    return previous;
}

UINT CMenu::GetMenuState(UINT nID, UINT nFlags) const {
    const MenuEntry* item = findItem(m_hMenu, nID, nFlags);
    if (!item) return UINT(-1);
    if (item->separator) return MF_SEPARATOR;
    // A pop-up reports its item count in the high byte.
    if (item->popup) return item->state | MF_POPUP | (UINT(item->popup->items.size()) << 8);
    return item->state;
}

BOOL CMenu::AppendMenu(UINT nFlags, UINT_PTR nIDNewItem, LPCTSTR lpszNewItem) {
    // Appending pop-ups is not supported: nothing here needs it.
    if (!m_hMenu || (nFlags & MF_POPUP)) return FALSE;
    MenuEntry item;
    if (nFlags & MF_SEPARATOR) {
        item.separator = true;
    } else {
        item.id = UINT(nIDNewItem);
        item.text = lpszNewItem ? lpszNewItem : "";
        item.state = nFlags & kStateMask;
    }
    m_hMenu->items.push_back(std::move(item));
    return TRUE;
}

BOOL CMenu::RemoveMenu(UINT nPosition, UINT nFlags) {
    return eraseItem(m_hMenu, nPosition, nFlags) ? TRUE : FALSE;
}

BOOL CMenu::ModifyMenu(UINT nPosition, UINT nFlags, UINT_PTR nIDNewItem, LPCTSTR lpszNewItem) {
    if (nFlags & MF_POPUP) return FALSE;
    MenuEntry* item = findItem(m_hMenu, nPosition, nFlags);
    if (!item) return FALSE;
    item->popup.reset();
    item->separator = (nFlags & MF_SEPARATOR) != 0;
    item->id = item->separator ? 0 : UINT(nIDNewItem);
    item->text = (item->separator || !lpszNewItem) ? "" : lpszNewItem;
    item->state = nFlags & kStateMask;
    return TRUE;
}

BOOL CMenu::TrackPopupMenu(UINT nFlags, int x, int y, CWnd* pWnd, const RECT*) {
    if (!m_hMenu || m_hMenu->items.empty() || !pWnd) return FALSE;
    const HWND owner = pWnd->m_hWnd;
    QWidget* ownerWidget = ui::detail::widgetOf(owner);
    if (!ownerWidget) return FALSE;

    // Owned by the owner's widget so it stacks with it; deleted here unless
    // the owner took it along.
    QPointer<QMenu> menu(new QMenu(ownerWidget));
    struct Cleanup {
        QPointer<QMenu>& menu;
        ~Cleanup() { delete menu.data(); }
    } cleanup{menu};
    fillQMenu(menu, *m_hMenu);

    // Recorded from the signal: a choice made while the menu closes still counts.
    UINT chosen = 0;
    QObject::connect(menu, &QMenu::triggered, menu,
                     [&chosen](QAction* action) { chosen = action->data().toUInt(); });
    QTimer::singleShot(0, menu, [owner] {
        ui::detail::runModalHook(ui::ModalKind::PopupMenu, ui::detail::wndOf(owner));
    });
    QPointer<QWidget> ownerWindow(ownerWidget->window());
    menu->exec(QPoint(x, y));
    // The owner gets the activation back, as on the desktop the menu came
    // from (a platform may have given it to the pop-up and kept it there).
    if (ownerWindow && ownerWindow->isVisible()) ownerWindow->activateWindow();
    ui::detail::runModalEndHook(ui::ModalKind::PopupMenu, ui::detail::wndOf(owner));

    if (nFlags & TPM_RETURNCMD) return BOOL(chosen);
    if (chosen) ui::detail::postMessage(owner, WM_COMMAND, WPARAM(chosen), 0);
    return TRUE;
}

CMenu* CMenu::FromHandle(HMENU hMenu) {
    return wrapperOf(hMenu);
}

// ---- the system menu ----------------------------------------------------------------
namespace ui::detail {

namespace {
std::map<HWND, std::unique_ptr<CMenu>>& systemMenus() {
    static std::map<HWND, std::unique_ptr<CMenu>> s_menus;
    return s_menus;
}
}  // namespace

CMenu* systemMenuOf(HWND hWnd) {
    QWidget* widget = widgetOf(hWnd);
    if (!widget) return nullptr;
    std::unique_ptr<CMenu>& slot = systemMenus()[hWnd];
    if (!slot) {
        slot = std::make_unique<CMenu>();
        slot->CreatePopupMenu();
        slot->AppendMenu(MF_STRING, SC_CLOSE, encodeCp936(QStringLiteral("关闭")).c_str());
        QObject::connect(widget, &QObject::destroyed, [hWnd] { systemMenus().erase(hWnd); });
    }
    return slot.get();
}

void showSystemMenu(CWnd* wnd) {
    if (!wnd) return;
    const HWND h = wnd->m_hWnd;
    CMenu* menu = systemMenuOf(h);
    if (!menu) return;
    const QPoint at = widgetOf(h)->mapToGlobal(QPoint(0, 0));
    const UINT id = UINT(menu->TrackPopupMenu(TPM_LEFTALIGN | TPM_RETURNCMD, at.x(), at.y(), wnd));
    if (id == 0) return;
    if (CWnd* target = wndOf(h)) target->SendMessage(WM_SYSCOMMAND, id, 0);
}

}  // namespace ui::detail
