// Menus: loading from the resource registry, greying, editing, and pop-ups
// tracked modally whose choice arrives as a posted WM_COMMAND; the system
// menu of a top-level window on Alt+Space.
#include <QAction>
#include <QMenu>
#include <memory>

#include "menus.h"
#include "ui_test.h"

namespace {

constexpr int kMenuId = 17413;
constexpr UINT kNew = 17414;
constexpr UINT kEdit = 17415;
constexpr UINT kRefresh = 17417;
constexpr UINT kAbout = 0x10;
const char* const kUser = "\xd3\xc3\xbb\xa7";                        // 用户
const char* const kNewText = "\xd0\xc2\xbd\xa8\xa3\xa8&N\xa3\xa9";   // 新建（&N）
const char* const kEditText = "\xb1\xe0\xbc\xad\xa3\xa8&E\xa3\xa9";  // 编辑（&E）
const char* const kClose = "\xb9\xd8\xb1\xd5";                       // 关闭

class MenuHost : public uitest::HostWindow {
protected:
    void OnNew() { trace << "new"; }
    void OnEdit() { trace << "edit"; }
    void OnRefresh() { trace << "refresh"; }
    // Alt+Space arrives as SC_KEYMENU; the default handling shows the menu.
    void OnSysCommand(UINT nID, LPARAM lParam) {
        trace << QStringLiteral("syscmd %1").arg(nID);
        if ((nID & 0xFFF0) == SC_KEYMENU) CWnd::OnSysCommand(nID, lParam);
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(MenuHost, uitest::HostWindow)
ON_COMMAND(kNew, OnNew)
ON_COMMAND(kEdit, OnEdit)
ON_COMMAND(kRefresh, OnRefresh)
ON_WM_SYSCOMMAND()
END_MESSAGE_MAP()

// The action of a shown pop-up that carries a command id.
QAction* actionFor(QWidget* popup, UINT id) {
    auto* menu = qobject_cast<QMenu*>(popup);
    if (!menu) return nullptr;
    for (QAction* a : menu->actions())
        if (!a->isSeparator() && a->data().toUInt() == id) return a;
    return nullptr;
}

}  // namespace

class Menu : public uitest::CoreTest {
protected:
    void SetUp() override {
        CoreTest::SetUp();
        ui::RegisterMenu({kMenuId,
                          {{kUser,
                            0,
                            {{kNewText, kNew, {}},
                             {kEditText, kEdit, {}},
                             {nullptr, 0, {}},
                             {"Refresh", kRefresh, {}}}}}});
        m_host = std::make_unique<MenuHost>();
        ASSERT_TRUE(m_host->showAndWait());
        m_menu = std::make_unique<CMenu>();
        ASSERT_TRUE(m_menu->LoadMenu(kMenuId));
    }
    void TearDown() override {
        ui::SetModalHook({});
        uitest::Watchdog::closeModals();
        m_menu.reset();
        m_host.reset();
        CoreTest::TearDown();
    }

    // Runs `onPopup` with the shown pop-up from inside its modal loop.
    void onPopup(std::function<void(QWidget* popup, CWnd* owner)> onPopup) {
        ui::SetModalHook([onPopup](ui::ModalKind kind, CWnd* owner) {
            if (kind != ui::ModalKind::PopupMenu) return;
            QWidget* popup = QApplication::activePopupWidget();
            if (!popup) return;
            onPopup(popup, owner);
            // Whatever the callback did, the menu does not stay open.
            if (QApplication::activePopupWidget() == popup) popup->close();
        });
    }

    std::unique_ptr<MenuHost> m_host;
    std::unique_ptr<CMenu> m_menu;
};

TEST_F(Menu, LoadsTemplateAndNavigates) {
    CMenu missing;
    EXPECT_FALSE(missing.LoadMenu(4711));
    EXPECT_TRUE(missing.GetSafeHmenu() == nullptr);

    EXPECT_EQ(m_menu->GetMenuItemCount(), 1);
    EXPECT_EQ(m_menu->GetMenuItemID(0), UINT(-1));  // a pop-up
    CMenu* sub = m_menu->GetSubMenu(0);
    ASSERT_TRUE(sub);
    EXPECT_EQ(m_menu->GetSubMenu(0), sub);  // owned by the parent, handed out again
    EXPECT_FALSE(m_menu->GetSubMenu(1));
    EXPECT_FALSE(m_menu->GetSubMenu(-1));
    EXPECT_FALSE(sub->GetSubMenu(0));
    EXPECT_EQ(sub->GetMenuItemCount(), 4);
    EXPECT_EQ(sub->GetMenuItemID(0), kNew);
    EXPECT_EQ(sub->GetMenuItemID(2), 0u);  // the separator
    EXPECT_EQ(sub->GetMenuItemID(9), UINT(-1));

    CString s;
    EXPECT_EQ(sub->GetMenuString(kEdit, s, MF_BYCOMMAND), int(strlen(kEditText)));
    EXPECT_EQ(s, CString(kEditText));
    sub->GetMenuString(0, s, MF_BYPOSITION);
    EXPECT_EQ(s, CString(kNewText));
    EXPECT_EQ(m_menu->GetMenuString(0, s, MF_BYPOSITION), 4);
    EXPECT_EQ(s, CString(kUser));
    EXPECT_EQ(sub->GetMenuString(999, s, MF_BYCOMMAND), 0);

    EXPECT_EQ(CMenu::FromHandle(sub->GetSafeHmenu()), sub);
    EXPECT_EQ(CMenu::FromHandle(m_menu->GetSafeHmenu()), m_menu.get());
    EXPECT_FALSE(CMenu::FromHandle(nullptr));

    // A handed-out sub-menu detached by DestroyMenu comes back working.
    sub->DestroyMenu();
    EXPECT_EQ(m_menu->GetSubMenu(0)->GetMenuItemCount(), 4);
}

TEST_F(Menu, GreyingByCommandAndPosition) {
    CMenu* sub = m_menu->GetSubMenu(0);
    const UINT grey = MF_BYCOMMAND | MF_GRAYED | MF_DISABLED;
    EXPECT_EQ(sub->EnableMenuItem(kEdit, grey), UINT(MF_ENABLED));
    EXPECT_EQ(sub->EnableMenuItem(kEdit, grey), UINT(MF_GRAYED | MF_DISABLED));
    EXPECT_EQ(sub->GetMenuState(kEdit, MF_BYCOMMAND) & MF_GRAYED, MF_GRAYED);
    EXPECT_EQ(sub->EnableMenuItem(kEdit, MF_BYCOMMAND | MF_ENABLED), UINT(MF_GRAYED | MF_DISABLED));
    EXPECT_EQ(sub->GetMenuState(kEdit, MF_BYCOMMAND), UINT(MF_ENABLED));

    // By command the search reaches into pop-ups, so the top menu finds it.
    EXPECT_EQ(m_menu->EnableMenuItem(kRefresh, grey), UINT(MF_ENABLED));
    EXPECT_EQ(sub->GetMenuState(3, MF_BYPOSITION) & MF_GRAYED, MF_GRAYED);

    EXPECT_EQ(sub->EnableMenuItem(0, MF_BYPOSITION | MF_GRAYED), UINT(MF_ENABLED));
    EXPECT_EQ(sub->GetMenuState(kNew, MF_BYCOMMAND) & MF_GRAYED, MF_GRAYED);
    EXPECT_EQ(sub->GetMenuState(2, MF_BYPOSITION), MF_SEPARATOR);
    EXPECT_EQ(m_menu->GetMenuState(0, MF_BYPOSITION) & MF_POPUP, MF_POPUP);

    EXPECT_EQ(sub->EnableMenuItem(4242, grey), UINT(-1));
    EXPECT_EQ(sub->EnableMenuItem(7, MF_BYPOSITION | MF_GRAYED), UINT(-1));
    EXPECT_EQ(sub->GetMenuState(4242, MF_BYCOMMAND), UINT(-1));
}

TEST_F(Menu, AppendRemoveModify) {
    CMenu menu;
    EXPECT_FALSE(menu.AppendMenu(MF_STRING, 1, "One"));  // no menu yet
    EXPECT_EQ(menu.GetMenuItemCount(), -1);
    EXPECT_TRUE(menu.CreatePopupMenu());
    EXPECT_TRUE(menu.AppendMenu(MF_STRING, 1, "One"));
    EXPECT_TRUE(menu.AppendMenu(MF_SEPARATOR));
    EXPECT_TRUE(menu.AppendMenu(MF_STRING | MF_GRAYED, 2, "Two"));
    EXPECT_FALSE(menu.AppendMenu(MF_POPUP, 0, "Sub"));
    EXPECT_EQ(menu.GetMenuItemCount(), 3);
    EXPECT_EQ(menu.GetMenuState(2, MF_BYCOMMAND) & MF_GRAYED, MF_GRAYED);

    EXPECT_TRUE(menu.RemoveMenu(1, MF_BYCOMMAND));
    EXPECT_EQ(menu.GetMenuItemCount(), 2);
    EXPECT_EQ(menu.GetMenuState(0, MF_BYPOSITION), MF_SEPARATOR);
    EXPECT_TRUE(menu.RemoveMenu(0, MF_BYPOSITION));
    EXPECT_FALSE(menu.RemoveMenu(5, MF_BYPOSITION));
    EXPECT_FALSE(menu.RemoveMenu(99, MF_BYCOMMAND));
    EXPECT_EQ(menu.GetMenuItemID(0), 2u);

    EXPECT_TRUE(menu.ModifyMenu(2, MF_BYCOMMAND | MF_STRING, 3, "Three"));
    EXPECT_EQ(menu.GetMenuItemID(0), 3u);
    CString s;
    menu.GetMenuString(3, s, MF_BYCOMMAND);
    EXPECT_EQ(s, CString("Three"));
    EXPECT_EQ(menu.GetMenuState(3, MF_BYCOMMAND), UINT(MF_ENABLED));
    EXPECT_FALSE(menu.ModifyMenu(2, MF_BYCOMMAND, 4, "gone"));

    // Removing by command reaches into a loaded menu's pop-up too.
    EXPECT_TRUE(m_menu->RemoveMenu(kEdit, MF_BYCOMMAND));
    EXPECT_EQ(m_menu->GetSubMenu(0)->GetMenuItemCount(), 3);

    EXPECT_TRUE(menu.DestroyMenu());
    EXPECT_FALSE(menu.DestroyMenu());
    EXPECT_FALSE(menu.RemoveMenu(0, MF_BYPOSITION));
}

TEST_F(Menu, ChosenEntryIsPostedAsCommand) {
    CMenu* sub = m_menu->GetSubMenu(0);
    QStringList seen;
    CWnd* hookOwner = nullptr;
    QPoint shownAt;
    onPopup([&](QWidget* popup, CWnd* owner) {
        hookOwner = owner;
        shownAt = popup->pos();
        for (QAction* a : qobject_cast<QMenu*>(popup)->actions()) seen << a->text();
        QTest::keyClick(popup, Qt::Key_Down);
        QTest::keyClick(popup, Qt::Key_Return);
    });
    // The end hook runs once the menu is closed, before the choice arrives.
    std::vector<CWnd*> ended;
    ui::SetModalEndHook([&](ui::ModalKind kind, CWnd* owner) {
        if (kind == ui::ModalKind::PopupMenu && !QApplication::activePopupWidget())
            ended.push_back(owner);
        EXPECT_TRUE(m_host->trace.isEmpty());
    });
    EXPECT_TRUE(sub->TrackPopupMenu(TPM_LEFTALIGN | TPM_RIGHTBUTTON, 120, 140, m_host.get()));
    EXPECT_EQ(ended, std::vector<CWnd*>{m_host.get()});
    EXPECT_EQ(hookOwner, static_cast<CWnd*>(m_host.get()));
    EXPECT_EQ(shownAt, QPoint(120, 140));
    EXPECT_EQ(seen, QStringList({"新建（&N）", "编辑（&E）", "", "Refresh"}));
    // Posted, not sent: nothing has arrived when the call returns.
    EXPECT_TRUE(m_host->trace.isEmpty());
    EXPECT_TRUE(uitest::waitFor([&] { return m_host->trace == QStringList({"new"}); }));

    // A mnemonic chooses too.
    m_host->trace.clear();
    onPopup([](QWidget* popup, CWnd*) { QTest::keyClick(popup, Qt::Key_E); });
    EXPECT_TRUE(sub->TrackPopupMenu(TPM_LEFTALIGN, 10, 10, m_host.get()));
    EXPECT_TRUE(uitest::waitFor([&] { return m_host->trace == QStringList({"edit"}); }));

    // Dismissed: nothing is posted.
    m_host->trace.clear();
    onPopup([](QWidget* popup, CWnd*) { QTest::keyClick(popup, Qt::Key_Escape); });
    EXPECT_TRUE(sub->TrackPopupMenu(TPM_LEFTALIGN, 10, 10, m_host.get()));
    QTest::qWait(20);
    EXPECT_TRUE(m_host->trace.isEmpty());
    // The owner has the activation again, so keys reach it.
    EXPECT_TRUE(uitest::waitFor([&] { return QApplication::activeWindow() == m_host->widget(); }));
}

TEST_F(Menu, GreyedEntriesCannotBeChosen) {
    CMenu* sub = m_menu->GetSubMenu(0);
    sub->EnableMenuItem(kNew, MF_BYCOMMAND | MF_GRAYED | MF_DISABLED);
    bool shownDisabled = false;
    onPopup([&](QWidget* popup, CWnd*) {
        QAction* greyed = actionFor(popup, kNew);
        shownDisabled = greyed && !greyed->isEnabled();
        if (greyed) greyed->trigger();
        QTest::keyClick(popup, Qt::Key_N);  // its mnemonic
        QTest::keyClick(popup, Qt::Key_Escape);
    });
    EXPECT_TRUE(sub->TrackPopupMenu(TPM_LEFTALIGN, 10, 10, m_host.get()));
    EXPECT_TRUE(shownDisabled);
    QTest::qWait(20);
    EXPECT_TRUE(m_host->trace.isEmpty());

    // Keys pass over it to the next entry that can be chosen.
    onPopup([](QWidget* popup, CWnd*) {
        QTest::keyClick(popup, Qt::Key_Down);
        QTest::keyClick(popup, Qt::Key_Return);
    });
    EXPECT_TRUE(sub->TrackPopupMenu(TPM_LEFTALIGN, 10, 10, m_host.get()));
    EXPECT_TRUE(uitest::waitFor([&] { return m_host->trace == QStringList({"edit"}); }));
}

TEST_F(Menu, ReturnCmdReturnsInsteadOfPosting) {
    CMenu* sub = m_menu->GetSubMenu(0);
    onPopup([](QWidget* popup, CWnd*) {
        QTest::keyClick(popup, Qt::Key_Up);  // wraps to the last entry
        QTest::keyClick(popup, Qt::Key_Return);
    });
    EXPECT_EQ(sub->TrackPopupMenu(TPM_LEFTALIGN | TPM_RETURNCMD, 10, 10, m_host.get()),
              BOOL(kRefresh));
    onPopup([](QWidget* popup, CWnd*) { QTest::keyClick(popup, Qt::Key_Escape); });
    EXPECT_EQ(sub->TrackPopupMenu(TPM_LEFTALIGN | TPM_RETURNCMD, 10, 10, m_host.get()), 0);
    QTest::qWait(20);
    EXPECT_TRUE(m_host->trace.isEmpty());

    // Nothing to show or nobody to tell: refused without showing anything.
    CMenu empty;
    empty.CreatePopupMenu();
    EXPECT_FALSE(empty.TrackPopupMenu(TPM_LEFTALIGN, 10, 10, m_host.get()));
    EXPECT_FALSE(sub->TrackPopupMenu(TPM_LEFTALIGN, 10, 10, nullptr));
}

TEST_F(Menu, SystemMenuOnAltSpaceSendsSysCommand) {
    CMenu* sys = m_host->GetSystemMenu(FALSE);
    ASSERT_TRUE(sys);
    EXPECT_EQ(m_host->GetSystemMenu(FALSE), sys);
    EXPECT_EQ(sys->GetMenuItemID(0), SC_CLOSE);
    CString s;
    sys->GetMenuString(SC_CLOSE, s, MF_BYCOMMAND);
    EXPECT_EQ(s, CString(kClose));
    EXPECT_TRUE(sys->AppendMenu(MF_SEPARATOR));
    EXPECT_TRUE(sys->AppendMenu(MF_STRING, kAbout, "About"));

    QPoint shownAt;
    onPopup([&](QWidget* popup, CWnd*) {
        shownAt = popup->pos();
        QTest::keyClick(popup, Qt::Key_Down);
        QTest::keyClick(popup, Qt::Key_Down);
        QTest::keyClick(popup, Qt::Key_Return);
    });
    EXPECT_TRUE(QTest::qWaitForWindowActive(m_host->widget()));
    QTest::keyClick(m_host->window(), Qt::Key_Space, Qt::AltModifier);
    EXPECT_TRUE(uitest::waitFor([&] {
        return m_host->trace == QStringList({QStringLiteral("syscmd %1").arg(SC_KEYMENU),
                                             QStringLiteral("syscmd %1").arg(kAbout)});
    }));
    EXPECT_EQ(shownAt, m_host->widget()->mapToGlobal(QPoint(0, 0)));

    // Alt+- as well: desktops keep Alt+Space for their own window menu.
    m_host->trace.clear();
    onPopup([](QWidget* popup, CWnd*) { QTest::keyClick(popup, Qt::Key_Escape); });
    QTest::keyClick(m_host->window(), Qt::Key_Minus, Qt::AltModifier);
    EXPECT_TRUE(uitest::waitFor([&] {
        return m_host->trace == QStringList({QStringLiteral("syscmd %1").arg(SC_KEYMENU)});
    }));

    m_host->trace.clear();
    onPopup([](QWidget* popup, CWnd*) {
        QTest::keyClick(popup, Qt::Key_Down);
        QTest::keyClick(popup, Qt::Key_Return);
    });
    ui::detail::showSystemMenu(m_host.get());
    EXPECT_TRUE(uitest::waitFor(
        [&] { return m_host->trace == QStringList({QStringLiteral("syscmd %1").arg(SC_CLOSE)}); }));
}

// What a context menu is placed and raised by.
TEST_F(Menu, CursorAndForegroundForAContextMenu) {
    QCursor::setPos(130, 150);
    POINT pt{};
    EXPECT_TRUE(GetCursorPos(&pt));
    EXPECT_EQ(QPoint(pt.x, pt.y), QPoint(130, 150));
    EXPECT_FALSE(GetCursorPos(nullptr));

    QWidget other;
    other.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    EXPECT_TRUE(m_host->SetForegroundWindow());
    EXPECT_TRUE(uitest::waitFor([&] { return m_host->widget()->isActiveWindow(); }));
}
