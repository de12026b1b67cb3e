// The main dialog: start order, the user list and the form, the editing
// modes, the keyboard, colours, the about entry and closing.
#include <QAbstractItemView>
#include <QLineEdit>
#include <QTest>
#include <climits>
#include <cstdio>
#include <cstring>

#include "program_test.h"
#include "res/resource.h"
#include "ui/testing_qt.h"

using namespace progtest;

namespace {

class MainDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        fakestore::reset();
        fakestore::script().items = {fakestore::item("sys_limit", cp("系统权限").c_str()),
                                     fakestore::item("motion", "Motion"),
                                     fakestore::item("io", "IO")};
        fakestore::script().users = {fakestore::user("root", 4, 0xFFFFFFFFu),
                                     fakestore::user("op", 1, 5), fakestore::user("guest", 0, 0)};
    }
    void TearDown() override { EXPECT_TRUE(noWindowLeft()); }

    static std::string cell(CrolvaneDlg& dlg, int row, int col) {
        return dlg.m_userList.GetItemText(row, col).str();
    }
    static void select(CrolvaneDlg& dlg, int row) {
        for (int i = 0; i < dlg.m_userList.GetItemCount(); ++i)
            if (i != row) dlg.m_userList.SetItemState(i, 0, LVIS_SELECTED);
        dlg.m_userList.SetItemState(row, LVIS_SELECTED, LVIS_SELECTED);
    }
    static int levelSel(CrolvaneDlg& dlg) {
        return static_cast<CComboBox*>(dlg.GetDlgItem(IDC_COMBO_LEVEL))->GetCurSel();
    }
};

TEST_F(MainDialogTest, StartsLibrariesRegistersTheSystemItemAndListsBeforeTheLogin) {
    CrolvaneDlg dlg;
    std::vector<std::string> beforeLogin;
    std::string firstName;
    bool mainShown = false;
    runMainDialog(dlg, {[&](CLoginDlg& login) {
                      beforeLogin = fakestore::calls();
                      firstName = textOf(dlg, IDC_EDIT_NAME);
                      mainShown = widget(&dlg)->isVisible();
                      login.EndDialog(IDCANCEL);
                  }});
    EXPECT_TRUE(mainShown);
    EXPECT_EQ(beforeLogin,
              (std::vector<std::string>{"setbank_start", "trailbook_start", "keyward_start",
                                        "add_limit(sys_limit," + cp("系统权限") + ")",
                                        "get_limit_list(null)", "get_limit_list(buf)",
                                        "get_user_list(null)", "get_user_list(buf)",
                                        // whether anybody could log in (the first start)
                                        "get_user_list(null)"}));
    EXPECT_EQ(firstName, "root");
    EXPECT_EQ(fakestore::calls().back(), "setbank_stop");
}

TEST_F(MainDialogTest, ListShowsNumbersNamesLevelTextsAndBitTexts) {
    auto& users = fakestore::script().users;
    users.push_back(fakestore::user("odd", 7, 2));
    while (users.size() < 100) users.push_back(fakestore::user("u", 2, 0));
    runLoggedIn([&](CrolvaneDlg& dlg) {
        ASSERT_EQ(dlg.m_userList.GetItemCount(), 100);
        EXPECT_EQ(cell(dlg, 0, 0), "01");
        EXPECT_EQ(cell(dlg, 8, 0), "09");
        EXPECT_EQ(cell(dlg, 98, 0), "99");
        EXPECT_EQ(cell(dlg, 99, 0), "100");
        EXPECT_EQ(cell(dlg, 0, 1), "root");
        EXPECT_EQ(cell(dlg, 0, 2), "Level_4");
        EXPECT_EQ(cell(dlg, 0, 3), std::string(32, '1'));  // beyond the 3 items
        EXPECT_EQ(cell(dlg, 1, 3), "101");                 // mask 5
        EXPECT_EQ(cell(dlg, 2, 2), "Level_0");
        EXPECT_EQ(cell(dlg, 2, 3), "000");
        EXPECT_EQ(cell(dlg, 3, 2), cp("无效级别(7)"));
        EXPECT_EQ(cell(dlg, 3, 3), "010");

        auto* view = qobject_cast<QAbstractItemView*>(widget(&dlg.m_userList));
        ASSERT_NE(view, nullptr);
        QStringList headings;
        for (int c = 0; c < 4; ++c)
            headings << view->model()->headerData(c, Qt::Horizontal).toString();
        EXPECT_EQ(headings, (QStringList{"序号", "用户名", "级别", "权限"}));
        EXPECT_EQ(dlg.m_userList.GetExtendedStyle() & 0x21u, 0x21u);

        // Template 103's list is 387 dialog units wide: 677 px in the
        // dialogs' family at 96 dpi, divided as W/6 - 50, W/3 - 10, W/3 - 80
        // and W/3 + 20, truncating.
        if (widget(&dlg)->font().family() != QStringLiteral("Noto Sans CJK SC"))
            GTEST_SKIP() << "the widths below are those of Noto Sans CJK SC";
        CRect rect;
        dlg.m_userList.GetWindowRect(&rect);
        ASSERT_EQ(rect.Width(), 677);
        const int widths[] = {62, 215, 145, 245};
        for (int c = 0; c < 4; ++c) EXPECT_EQ(dlg.m_userList.GetColumnWidth(c), widths[c]) << c;
    });
}

TEST(RowNumberText, WritesWhatPercent02dWrites) {
    for (const int number : {0, 1, 9, 10, 99, 100, 12345, 100000, INT_MAX}) {
        char expected[16];
        std::snprintf(expected, sizeof expected, "%02d", number);
        char text[12];
        std::memset(text, 'x', sizeof text);
        RowNumberText(number, text);
        EXPECT_STREQ(text, expected) << number;
    }
}

TEST_F(MainDialogTest, BitTextsConvertBothWays) {
    runLoggedIn([&](CrolvaneDlg& dlg) {
        char text[40];
        dlg.m_permCount = 4;
        dlg.MaskToBitText(5, text);
        EXPECT_STREQ(text, "1010");
        dlg.MaskToBitText(0, text);
        EXPECT_STREQ(text, "0000");
        dlg.MaskToBitText(0x80000000u, text);
        EXPECT_EQ(std::string(text), std::string(31, '0') + "1");
        dlg.m_permCount = 0;
        dlg.MaskToBitText(0, text);
        EXPECT_STREQ(text, "");
        EXPECT_EQ(dlg.BitTextToMask("1010"), 5u);
        EXPECT_EQ(dlg.BitTextToMask(""), 0u);
        EXPECT_EQ(dlg.BitTextToMask(std::string(32, '1').c_str()), 0xFFFFFFFFu);
        dlg.m_permCount = 3;
    });
}

TEST_F(MainDialogTest, FormFollowsTheSelectionButNotAClickOutsideTheRows) {
    runLoggedIn([&](CrolvaneDlg& dlg) {
        EXPECT_EQ(dlg.m_curRow, 0);
        select(dlg, 1);
        EXPECT_EQ(dlg.m_curRow, 1);
        EXPECT_EQ(textOf(dlg, IDC_EDIT_NAME), "op");
        EXPECT_EQ(levelSel(dlg), 0);  // Level_1
        select(dlg, 2);
        EXPECT_EQ(textOf(dlg, IDC_EDIT_NAME), "guest");
        EXPECT_EQ(levelSel(dlg), -1);  // level 0 has no entry

        // A click below the last row selects nothing: the form stays.
        auto* view = qobject_cast<QAbstractItemView*>(widget(&dlg.m_userList));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                          QPoint(10, view->viewport()->height() - 5));
        EXPECT_EQ(dlg.m_curRow, 2);
        EXPECT_EQ(textOf(dlg, IDC_EDIT_NAME), "guest");
    });
}

struct ModeRow {
    EditMode mode;
    bool oldPwd, newPwd, form, okCancel, browseOnly;
};

TEST_F(MainDialogTest, EachModeSetsTheControlsAsItsTableSays) {
    const ModeRow rows[] = {{ModeNew, true, false, true, true, false},
                            {ModeEdit, false, false, true, true, false},
                            {ModeBrowse, false, false, false, false, true},
                            {ModePassword, true, true, false, true, false}};
    runLoggedIn([&](CrolvaneDlg& dlg) {
        for (const ModeRow& r : rows) {
            SCOPED_TRACE(r.mode);
            for (int id : {IDC_EDIT_PWD, IDC_EDIT_NEWPWD, IDC_EDIT_CONFIRM})
                setTextOf(dlg, id, "typed");
            dlg.m_editMode = r.mode;
            dlg.ApplyEditMode();
            EXPECT_EQ(isShown(dlg, IDC_STATIC_PWD), r.oldPwd);
            EXPECT_EQ(isShown(dlg, IDC_EDIT_PWD), r.oldPwd);
            for (int id :
                 {IDC_EDIT_NEWPWD, IDC_STATIC_NEWPWD, IDC_EDIT_CONFIRM, IDC_STATIC_CONFIRM})
                EXPECT_EQ(isShown(dlg, id), r.newPwd) << id;
            for (int id : {IDC_EDIT_NAME, IDC_COMBO_LEVEL, IDC_CHECK_ALL})
                EXPECT_EQ(isEnabled(dlg, id), r.form) << id;
            EXPECT_EQ(isEnabled(dlg, IDOK), !r.browseOnly);
            EXPECT_EQ(isEnabled(dlg, IDCANCEL), r.okCancel);
            EXPECT_EQ(isEnabled(dlg, IDC_BTN_ITEMS), r.browseOnly);
            EXPECT_EQ(isEnabled(dlg, IDC_USER_LIST), r.browseOnly);
            for (int i = 0; i < dlg.m_permCount; ++i)
                EXPECT_EQ(bool(dlg.m_permBoxes[i]->IsWindowEnabled()), r.form) << i;
            for (int id : {IDC_EDIT_PWD, IDC_EDIT_NEWPWD, IDC_EDIT_CONFIRM})
                EXPECT_EQ(textOf(dlg, id), "") << id;
        }
    });
}

TEST_F(MainDialogTest, ModeStepsMoveFocusAndResetTheForm) {
    runLoggedIn([&](CrolvaneDlg& dlg) {
        // root holds every item: all ticked before the new user.
        static_cast<CButton*>(dlg.GetDlgItem(IDC_CHECK_ALL))->SetCheck(BST_CHECKED);
        dlg.m_editMode = ModeNew;
        dlg.ApplyEditMode();
        EXPECT_EQ(textOf(dlg, IDC_EDIT_NAME), "");
        EXPECT_TRUE(waitFor([&] { return focusId() == IDC_EDIT_NAME; }));
        EXPECT_EQ(levelSel(dlg), 0);
        EXPECT_EQ(static_cast<CButton*>(dlg.GetDlgItem(IDC_CHECK_ALL))->GetCheck(), BST_UNCHECKED);
        for (int i = 0; i < dlg.m_permCount; ++i) EXPECT_EQ(dlg.m_permBoxes[i]->GetCheck(), 0);

        setTextOf(dlg, IDC_EDIT_NAME, "root");
        dlg.m_editMode = ModeEdit;
        dlg.ApplyEditMode();
        EXPECT_TRUE(waitFor([&] { return focusId() == IDC_EDIT_NAME; }));
        EXPECT_EQ(qobject_cast<QLineEdit*>(widget(dlg, IDC_EDIT_NAME))->selectedText(), "root");

        dlg.m_editMode = ModePassword;
        dlg.ApplyEditMode();
        EXPECT_TRUE(waitFor([&] { return focusId() == IDC_EDIT_PWD; }));
    });
}

TEST_F(MainDialogTest, F5InModeNewAppliesTheModeAgainAfterReloading) {
    runLoggedIn([&](CrolvaneDlg& dlg) {
        dlg.m_editMode = ModeNew;
        dlg.m_curRow = dlg.m_userList.GetItemCount();
        dlg.ApplyEditMode();
        setTextOf(dlg, IDC_EDIT_NAME, "half typed");
        static_cast<CComboBox*>(dlg.GetDlgItem(IDC_COMBO_LEVEL))->SetCurSel(2);
        const size_t before = fakestore::calls().size();
        sendKey(dlg, VK_F5);
        const std::vector<std::string> reload(fakestore::calls().begin() + long(before),
                                              fakestore::calls().end());
        EXPECT_EQ(reload, (std::vector<std::string>{"get_limit_list(null)", "get_limit_list(buf)",
                                                    "get_user_list(null)", "get_user_list(buf)"}));
        EXPECT_EQ(dlg.m_editMode, ModeNew);
        EXPECT_EQ(textOf(dlg, IDC_EDIT_NAME), "");
        EXPECT_EQ(levelSel(dlg), 0);
        // The new row's index was out of range: the reload made row 0 current.
        EXPECT_EQ(dlg.m_curRow, 0);
    });
}

TEST_F(MainDialogTest, EscapeAbandonsTheEditButNeverCloses) {
    runLoggedIn([&](CrolvaneDlg& dlg) {
        // Browse: the form is reloaded from the current row.
        setTextOf(dlg, IDC_EDIT_NAME, "scribble");
        sendKey(dlg, VK_ESCAPE);
        EXPECT_TRUE(dlg.IsWindowVisible());
        EXPECT_EQ(textOf(dlg, IDC_EDIT_NAME), "root");

        // New: the current row is the row count, so the typed text stays,
        // disabled.
        dlg.m_editMode = ModeNew;
        dlg.m_curRow = dlg.m_userList.GetItemCount();
        dlg.ApplyEditMode();
        setTextOf(dlg, IDC_EDIT_NAME, "newbie");
        sendKey(dlg, VK_ESCAPE);
        EXPECT_EQ(dlg.m_editMode, ModeBrowse);
        EXPECT_EQ(textOf(dlg, IDC_EDIT_NAME), "newbie");
        EXPECT_FALSE(isEnabled(dlg, IDC_EDIT_NAME));
        EXPECT_TRUE(isEnabled(dlg, IDC_USER_LIST));
        EXPECT_TRUE(dlg.IsWindowVisible());
    });
}

TEST_F(MainDialogTest, RefreshThatShrinksTheListShowsTheFirstRow) {
    runLoggedIn([&](CrolvaneDlg& dlg) {
        select(dlg, 2);
        ASSERT_EQ(dlg.m_curRow, 2);
        fakestore::script().users.resize(2);
        dlg.FillUserList();
        EXPECT_EQ(dlg.m_userList.GetItemCount(), 2);
        EXPECT_EQ(dlg.m_curRow, 0);
        EXPECT_EQ(textOf(dlg, IDC_EDIT_NAME), "root");
        EXPECT_EQ(dlg.m_userList.GetSelectedCount(), 0u);

        // No users: the list empties, the form and the row stay.
        fakestore::script().users.clear();
        const size_t before = fakestore::calls().size();
        dlg.FillUserList();
        EXPECT_EQ(fakestore::calls().size() - before, 1u);  // no fill call
        EXPECT_EQ(dlg.m_userList.GetItemCount(), 0);
        EXPECT_EQ(dlg.m_curRow, 0);
        EXPECT_EQ(textOf(dlg, IDC_EDIT_NAME), "root");
    });
}

TEST_F(MainDialogTest, CloseStopsTheLibrariesInReverseOrder) {
    size_t before = 0;
    const INT_PTR result = runLoggedIn([&](CrolvaneDlg& dlg) {
        before = fakestore::calls().size();
        // The close box goes the system-menu way: a posted WM_CLOSE.
        widget(&dlg)->close();
        EXPECT_TRUE(dlg.IsWindowVisible());
        EXPECT_TRUE(waitFor([&] { return !dlg.IsWindowVisible(); }));
    });
    EXPECT_EQ(result, IDCANCEL);
    const std::vector<std::string> after(fakestore::calls().begin() + long(before),
                                         fakestore::calls().end());
    EXPECT_EQ(after, (std::vector<std::string>{"keyward_stop", "trailbook_stop", "setbank_stop"}));
}

TEST_F(MainDialogTest, SaveAndCancelNeverCloseTheDialog) {
    runLoggedIn([&](CrolvaneDlg& dlg) {
        dlg.m_editMode = ModeEdit;
        dlg.ApplyEditMode();
        click(dlg, IDCANCEL);
        EXPECT_EQ(dlg.m_editMode, ModeBrowse);
        dlg.SendMessage(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        EXPECT_TRUE(dlg.IsWindowVisible());
        EXPECT_NE(dlg.m_hWnd, nullptr);
    });
}

TEST_F(MainDialogTest, SystemMenuOffersTheAboutBox) {
    CrolvaneDlg dlg;
    bool aboutShown = false;
    runMainDialog(dlg, {[](CLoginDlg& login) { loginAs(login, "root", "pw"); },
                        [&](CrolvaneDlg& main) {
                            CMenu* menu = main.GetSystemMenu(FALSE);
                            ASSERT_NE(menu, nullptr);
                            const int n = menu->GetMenuItemCount();
                            ASSERT_GE(n, 2);
                            EXPECT_EQ(menu->GetMenuItemID(n - 1), UINT(IDM_ABOUTBOX));
                            CString text;
                            menu->GetMenuString(IDM_ABOUTBOX, text, MF_BYCOMMAND);
                            EXPECT_EQ(text.str(), cp("关于 rolvane(&A)..."));
                            EXPECT_EQ(menu->GetMenuState(UINT(n - 2), MF_BYPOSITION) & MF_SEPARATOR,
                                      MF_SEPARATOR);
                            main.SendMessage(WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
                            EXPECT_TRUE(aboutShown);
                            EXPECT_NE(main.m_hWnd, nullptr);
                            main.SendMessage(WM_CLOSE);
                        },
                        [&](CDialog& other) {
                            aboutShown = other.GetTemplateId() == IDD_ABOUTBOX;
                            EXPECT_EQ(widget(&other)->windowTitle(),
                                      QStringLiteral("关于 rolvane"));
                            other.EndDialog(IDOK);
                        }});
}

TEST_F(MainDialogTest, CurrentUserLabelIsMagentaOnNoBackground) {
    runLoggedIn([&](CrolvaneDlg& dlg) {
        CDC label;
        const LRESULT brush = dlg.SendMessage(WM_CTLCOLORSTATIC, WPARAM(&label),
                                              LPARAM(dlg.GetDlgItem(IDC_STATIC_CURUSER)->m_hWnd));
        EXPECT_EQ(label.GetTextColor(), RGB(255, 0, 255));
        EXPECT_EQ(label.GetBkMode(), TRANSPARENT);
        EXPECT_EQ(reinterpret_cast<HBRUSH>(brush), GetStockObject(NULL_BRUSH));

        CDC other;
        dlg.SendMessage(WM_CTLCOLORSTATIC, WPARAM(&other),
                        LPARAM(dlg.GetDlgItem(IDC_STATIC_PWD)->m_hWnd));
        EXPECT_FALSE(other.HasTextColor());
    });
}

TEST_F(MainDialogTest, CurrentUserNameComesFromTheStoreOrIsEmpty) {
    runLoggedIn([&](CrolvaneDlg& dlg) {
        EXPECT_EQ(dlg.GetCurUserName().str(), "root");
        fakestore::script().curUsersResult = -1;
        EXPECT_EQ(dlg.GetCurUserName().str(), "");
    });
}

}  // namespace
