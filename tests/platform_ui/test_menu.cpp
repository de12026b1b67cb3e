// Menus: loading from the resource registry, greying, editing, and pop-ups
// tracked modally whose choice arrives as a posted WM_COMMAND; the system
// menu of a top-level window on Alt+Space.
#include <QAction>
#include <QMenu>
#include <QtTest>
#include <memory>

#include "menus.h"
#include "ui_test_support.h"

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

class TestMenu : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void loadsTemplateAndNavigates();
    void greyingByCommandAndPosition();
    void appendRemoveModify();
    void chosenEntryIsPostedAsCommand();
    void greyedEntriesCannotBeChosen();
    void returnCmdReturnsInsteadOfPosting();
    void systemMenuOnAltSpaceSendsSysCommand();
    void cursorAndForegroundForAContextMenu();

private:
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

    std::unique_ptr<uitest::Watchdog> m_watchdog;
    std::unique_ptr<MenuHost> m_host;
    std::unique_ptr<CMenu> m_menu;
};

void TestMenu::initTestCase() {
    ui::RegisterMenu({kMenuId,
                      {{kUser,
                        0,
                        {{kNewText, kNew, {}},
                         {kEditText, kEdit, {}},
                         {nullptr, 0, {}},
                         {"Refresh", kRefresh, {}}}}}});
}

void TestMenu::init() {
    m_watchdog = std::make_unique<uitest::Watchdog>();
    m_host = std::make_unique<MenuHost>();
    QVERIFY(m_host->showAndWait());
    m_menu = std::make_unique<CMenu>();
    QVERIFY(m_menu->LoadMenu(kMenuId));
}

void TestMenu::cleanup() {
    ui::SetModalHook({});
    uitest::Watchdog::closeModals();
    m_menu.reset();
    m_host.reset();
    QVERIFY(!m_watchdog->fired());
    m_watchdog.reset();
    QVERIFY(uitest::noWindowLeft());
}

void TestMenu::loadsTemplateAndNavigates() {
    CMenu missing;
    QVERIFY(!missing.LoadMenu(4711));
    QVERIFY(missing.GetSafeHmenu() == nullptr);

    QCOMPARE(m_menu->GetMenuItemCount(), 1);
    QCOMPARE(m_menu->GetMenuItemID(0), UINT(-1));  // a pop-up
    CMenu* sub = m_menu->GetSubMenu(0);
    QVERIFY(sub);
    QCOMPARE(m_menu->GetSubMenu(0), sub);  // owned by the parent, handed out again
    QVERIFY(!m_menu->GetSubMenu(1));
    QVERIFY(!m_menu->GetSubMenu(-1));
    QVERIFY(!sub->GetSubMenu(0));
    QCOMPARE(sub->GetMenuItemCount(), 4);
    QCOMPARE(sub->GetMenuItemID(0), kNew);
    QCOMPARE(sub->GetMenuItemID(2), 0u);  // the separator
    QCOMPARE(sub->GetMenuItemID(9), UINT(-1));

    CString s;
    QCOMPARE(sub->GetMenuString(kEdit, s, MF_BYCOMMAND), int(strlen(kEditText)));
    QCOMPARE(s, CString(kEditText));
    sub->GetMenuString(0, s, MF_BYPOSITION);
    QCOMPARE(s, CString(kNewText));
    QCOMPARE(m_menu->GetMenuString(0, s, MF_BYPOSITION), 4);
    QCOMPARE(s, CString(kUser));
    QCOMPARE(sub->GetMenuString(999, s, MF_BYCOMMAND), 0);

    QCOMPARE(CMenu::FromHandle(sub->GetSafeHmenu()), sub);
    QCOMPARE(CMenu::FromHandle(m_menu->GetSafeHmenu()), m_menu.get());
    QVERIFY(!CMenu::FromHandle(nullptr));

    // A handed-out sub-menu detached by DestroyMenu comes back working.
    sub->DestroyMenu();
    QCOMPARE(m_menu->GetSubMenu(0)->GetMenuItemCount(), 4);
}

void TestMenu::greyingByCommandAndPosition() {
    CMenu* sub = m_menu->GetSubMenu(0);
    const UINT grey = MF_BYCOMMAND | MF_GRAYED | MF_DISABLED;
    QCOMPARE(sub->EnableMenuItem(kEdit, grey), UINT(MF_ENABLED));
    QCOMPARE(sub->EnableMenuItem(kEdit, grey), UINT(MF_GRAYED | MF_DISABLED));
    QCOMPARE(sub->GetMenuState(kEdit, MF_BYCOMMAND) & MF_GRAYED, MF_GRAYED);
    QCOMPARE(sub->EnableMenuItem(kEdit, MF_BYCOMMAND | MF_ENABLED), UINT(MF_GRAYED | MF_DISABLED));
    QCOMPARE(sub->GetMenuState(kEdit, MF_BYCOMMAND), UINT(MF_ENABLED));

    // By command the search reaches into pop-ups, so the top menu finds it.
    QCOMPARE(m_menu->EnableMenuItem(kRefresh, grey), UINT(MF_ENABLED));
    QCOMPARE(sub->GetMenuState(3, MF_BYPOSITION) & MF_GRAYED, MF_GRAYED);

    QCOMPARE(sub->EnableMenuItem(0, MF_BYPOSITION | MF_GRAYED), UINT(MF_ENABLED));
    QCOMPARE(sub->GetMenuState(kNew, MF_BYCOMMAND) & MF_GRAYED, MF_GRAYED);
    QCOMPARE(sub->GetMenuState(2, MF_BYPOSITION), MF_SEPARATOR);
    QCOMPARE(m_menu->GetMenuState(0, MF_BYPOSITION) & MF_POPUP, MF_POPUP);

    QCOMPARE(sub->EnableMenuItem(4242, grey), UINT(-1));
    QCOMPARE(sub->EnableMenuItem(7, MF_BYPOSITION | MF_GRAYED), UINT(-1));
    QCOMPARE(sub->GetMenuState(4242, MF_BYCOMMAND), UINT(-1));
}

void TestMenu::appendRemoveModify() {
    CMenu menu;
    QVERIFY(!menu.AppendMenu(MF_STRING, 1, "One"));  // no menu yet
    QCOMPARE(menu.GetMenuItemCount(), -1);
    QVERIFY(menu.CreatePopupMenu());
    QVERIFY(menu.AppendMenu(MF_STRING, 1, "One"));
    QVERIFY(menu.AppendMenu(MF_SEPARATOR));
    QVERIFY(menu.AppendMenu(MF_STRING | MF_GRAYED, 2, "Two"));
    QVERIFY(!menu.AppendMenu(MF_POPUP, 0, "Sub"));
    QCOMPARE(menu.GetMenuItemCount(), 3);
    QCOMPARE(menu.GetMenuState(2, MF_BYCOMMAND) & MF_GRAYED, MF_GRAYED);

    QVERIFY(menu.RemoveMenu(1, MF_BYCOMMAND));
    QCOMPARE(menu.GetMenuItemCount(), 2);
    QCOMPARE(menu.GetMenuState(0, MF_BYPOSITION), MF_SEPARATOR);
    QVERIFY(menu.RemoveMenu(0, MF_BYPOSITION));
    QVERIFY(!menu.RemoveMenu(5, MF_BYPOSITION));
    QVERIFY(!menu.RemoveMenu(99, MF_BYCOMMAND));
    QCOMPARE(menu.GetMenuItemID(0), 2u);

    QVERIFY(menu.ModifyMenu(2, MF_BYCOMMAND | MF_STRING, 3, "Three"));
    QCOMPARE(menu.GetMenuItemID(0), 3u);
    CString s;
    menu.GetMenuString(3, s, MF_BYCOMMAND);
    QCOMPARE(s, CString("Three"));
    QCOMPARE(menu.GetMenuState(3, MF_BYCOMMAND), UINT(MF_ENABLED));
    QVERIFY(!menu.ModifyMenu(2, MF_BYCOMMAND, 4, "gone"));

    // Removing by command reaches into a loaded menu's pop-up too.
    QVERIFY(m_menu->RemoveMenu(kEdit, MF_BYCOMMAND));
    QCOMPARE(m_menu->GetSubMenu(0)->GetMenuItemCount(), 3);

    QVERIFY(menu.DestroyMenu());
    QVERIFY(!menu.DestroyMenu());
    QVERIFY(!menu.RemoveMenu(0, MF_BYPOSITION));
}

void TestMenu::chosenEntryIsPostedAsCommand() {
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
    QVERIFY(sub->TrackPopupMenu(TPM_LEFTALIGN | TPM_RIGHTBUTTON, 120, 140, m_host.get()));
    QCOMPARE(hookOwner, static_cast<CWnd*>(m_host.get()));
    QCOMPARE(shownAt, QPoint(120, 140));
    QCOMPARE(seen, QStringList({"新建（&N）", "编辑（&E）", "", "Refresh"}));
    // Posted, not sent: nothing has arrived when the call returns.
    QVERIFY(m_host->trace.isEmpty());
    QTRY_COMPARE(m_host->trace, QStringList({"new"}));

    // A mnemonic chooses too.
    m_host->trace.clear();
    onPopup([](QWidget* popup, CWnd*) { QTest::keyClick(popup, Qt::Key_E); });
    QVERIFY(sub->TrackPopupMenu(TPM_LEFTALIGN, 10, 10, m_host.get()));
    QTRY_COMPARE(m_host->trace, QStringList({"edit"}));

    // Dismissed: nothing is posted.
    m_host->trace.clear();
    onPopup([](QWidget* popup, CWnd*) { QTest::keyClick(popup, Qt::Key_Escape); });
    QVERIFY(sub->TrackPopupMenu(TPM_LEFTALIGN, 10, 10, m_host.get()));
    QTest::qWait(20);
    QVERIFY(m_host->trace.isEmpty());
    // The owner has the activation again, so keys reach it.
    QTRY_COMPARE(QApplication::activeWindow(), m_host->widget());
}

void TestMenu::greyedEntriesCannotBeChosen() {
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
    QVERIFY(sub->TrackPopupMenu(TPM_LEFTALIGN, 10, 10, m_host.get()));
    QVERIFY(shownDisabled);
    QTest::qWait(20);
    QVERIFY(m_host->trace.isEmpty());

    // Keys pass over it to the next entry that can be chosen.
    onPopup([](QWidget* popup, CWnd*) {
        QTest::keyClick(popup, Qt::Key_Down);
        QTest::keyClick(popup, Qt::Key_Return);
    });
    QVERIFY(sub->TrackPopupMenu(TPM_LEFTALIGN, 10, 10, m_host.get()));
    QTRY_COMPARE(m_host->trace, QStringList({"edit"}));
}

void TestMenu::returnCmdReturnsInsteadOfPosting() {
    CMenu* sub = m_menu->GetSubMenu(0);
    onPopup([](QWidget* popup, CWnd*) {
        QTest::keyClick(popup, Qt::Key_Up);  // wraps to the last entry
        QTest::keyClick(popup, Qt::Key_Return);
    });
    QCOMPARE(sub->TrackPopupMenu(TPM_LEFTALIGN | TPM_RETURNCMD, 10, 10, m_host.get()),
             BOOL(kRefresh));
    onPopup([](QWidget* popup, CWnd*) { QTest::keyClick(popup, Qt::Key_Escape); });
    QCOMPARE(sub->TrackPopupMenu(TPM_LEFTALIGN | TPM_RETURNCMD, 10, 10, m_host.get()), 0);
    QTest::qWait(20);
    QVERIFY(m_host->trace.isEmpty());

    // Nothing to show or nobody to tell: refused without showing anything.
    CMenu empty;
    empty.CreatePopupMenu();
    QVERIFY(!empty.TrackPopupMenu(TPM_LEFTALIGN, 10, 10, m_host.get()));
    QVERIFY(!sub->TrackPopupMenu(TPM_LEFTALIGN, 10, 10, nullptr));
}

void TestMenu::systemMenuOnAltSpaceSendsSysCommand() {
    CMenu* sys = m_host->GetSystemMenu(FALSE);
    QVERIFY(sys);
    QCOMPARE(m_host->GetSystemMenu(FALSE), sys);
    QCOMPARE(sys->GetMenuItemID(0), SC_CLOSE);
    CString s;
    sys->GetMenuString(SC_CLOSE, s, MF_BYCOMMAND);
    QCOMPARE(s, CString(kClose));
    QVERIFY(sys->AppendMenu(MF_SEPARATOR));
    QVERIFY(sys->AppendMenu(MF_STRING, kAbout, "About"));

    QPoint shownAt;
    onPopup([&](QWidget* popup, CWnd*) {
        shownAt = popup->pos();
        QTest::keyClick(popup, Qt::Key_Down);
        QTest::keyClick(popup, Qt::Key_Down);
        QTest::keyClick(popup, Qt::Key_Return);
    });
    QVERIFY(QTest::qWaitForWindowActive(m_host->widget()));
    QTest::keyClick(m_host->window(), Qt::Key_Space, Qt::AltModifier);
    QTRY_COMPARE(m_host->trace, QStringList({QStringLiteral("syscmd %1").arg(SC_KEYMENU),
                                             QStringLiteral("syscmd %1").arg(kAbout)}));
    QCOMPARE(shownAt, m_host->widget()->mapToGlobal(QPoint(0, 0)));

    m_host->trace.clear();
    onPopup([](QWidget* popup, CWnd*) {
        QTest::keyClick(popup, Qt::Key_Down);
        QTest::keyClick(popup, Qt::Key_Return);
    });
    ui::detail::showSystemMenu(m_host.get());
    QTRY_COMPARE(m_host->trace, QStringList({QStringLiteral("syscmd %1").arg(SC_CLOSE)}));
}

// What a context menu is placed and raised by.
void TestMenu::cursorAndForegroundForAContextMenu() {
    QCursor::setPos(130, 150);
    POINT pt{};
    QVERIFY(GetCursorPos(&pt));
    QCOMPARE(QPoint(pt.x, pt.y), QPoint(130, 150));
    QVERIFY(!GetCursorPos(nullptr));

    QWidget other;
    other.show();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    QVERIFY(m_host->SetForegroundWindow());
    QTRY_VERIFY(m_host->widget()->isActiveWindow());
}

QTEST_MAIN(TestMenu)
#include "test_menu.moc"
