// The user list's context menu (who is offered what) and the commands New,
// Edit, Refresh and Delete.
#include <QAbstractItemView>
#include <QAction>
#include <QMenu>
#include <QTest>
#include <map>

#include "program_test.h"
#include "res/resource.h"

using namespace progtest;

namespace {

constexpr UINT kWarning = MB_OK | MB_ICONWARNING;

class UserCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        fakestore::reset();
        fakestore::script().items = {fakestore::item("sys_limit", cp("系统权限").c_str()),
                                     fakestore::item("motion", "Motion")};
        fakestore::script().users = {fakestore::user("root", 4, 0xFFFFFFFFu),
                                     fakestore::user("op", 1, 1), fakestore::user("guest", 0, 0),
                                     fakestore::user("odd", 7, 0)};
    }
    void TearDown() override { EXPECT_TRUE(noWindowLeft()); }

    // Right-clicks row `row` (-1: below the last row) and returns the menu's
    // entries by command id with their enabled state, or an empty map when no
    // menu opened. `choose` (a command id) is then picked, else the menu is
    // dismissed.
    static std::map<UINT, bool> rightClick(CrolvaneDlg& dlg, int row, UINT choose = 0) {
        auto* view = qobject_cast<QAbstractItemView*>(widget(&dlg.m_userList));
        QPoint at(10, view->viewport()->height() - 3);
        if (row >= 0) {
            CRect rect;
            dlg.m_userList.GetSubItemRect(row, 1, LVIR_BOUNDS, rect);
            at = QPoint((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
        }
        std::map<UINT, bool> entries;
        auto previous = ui::SetModalHook([&](ui::ModalKind kind, CWnd* owner) {
            if (kind != ui::ModalKind::PopupMenu) return;
            EXPECT_EQ(owner, &dlg);
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu) return;
            QAction* chosen = nullptr;
            for (QAction* a : menu->actions()) {
                entries[a->data().toUInt()] = a->isEnabled();
                if (a->data().toUInt() == choose) chosen = a;
            }
            if (chosen) chosen->trigger();
            menu->close();
        });
        QTest::mouseClick(view->viewport(), Qt::RightButton, {}, at);
        ui::SetModalHook(previous);
        QTest::qWait(10);  // the chosen command is posted
        return entries;
    }
};

TEST_F(UserCommandsTest, MenuIsGreyedByTheLevelRule) {
    struct Case {
        const char* what;
        const char* user;
        int group;
        int row;
        bool rowCommands;  // edit, delete, clear offered
        bool changePwd;
    };
    const Case cases[] = {
        {"below the last row", "root", 4, -1, false, false},
        {"own row at one's own level", "root", 4, 0, false, true},
        {"a lower level", "root", 4, 1, true, true},
        {"a higher level", "op2", 2, 0, false, true},
        {"level text not in the table counts as 1", "op2", 2, 3, true, true},
        {"level 1 on a level-1 row", "op1", 1, 1, false, true},
        {"qorvel on a higher level", "qorvel", 2, 0, true, true},
        {"qorvel below the last row", "qorvel", 2, -1, false, false},
    };
    runLoggedIn([&](CrolvaneDlg& dlg) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.what);
            fakestore::script().curUser = c.user;
            fakestore::script().group = c.group;
            const auto entries = rightClick(dlg, c.row);
            const std::map<UINT, bool> want = {{ID_USER_NEW, true},
                                               {ID_USER_EDIT, c.rowCommands},
                                               {ID_USER_CHANGEPWD, c.changePwd},
                                               {ID_USER_CLEARPWD, c.rowCommands},
                                               {ID_USER_DELETE, c.rowCommands},
                                               {ID_USER_REFRESH, true}};
            EXPECT_EQ(entries, want);
            EXPECT_EQ(dlg.m_editMode, ModeBrowse);
        }
    });
}

TEST_F(UserCommandsTest, LevelZeroGetsNoMenu) {
    runLoggedIn([&](CrolvaneDlg& dlg) {
        fakestore::script().group = 0;
        EXPECT_TRUE(rightClick(dlg, 1).empty());
        EXPECT_TRUE(rightClick(dlg, -1).empty());
    });
}

TEST_F(UserCommandsTest, ClickedRowBecomesCurrentEvenWhenTheMenuIsDismissed) {
    runLoggedIn([&](CrolvaneDlg& dlg) {
        ASSERT_EQ(dlg.m_curRow, 0);
        rightClick(dlg, 2);
        EXPECT_EQ(dlg.m_curRow, 2);
        EXPECT_EQ(textOf(dlg, IDC_EDIT_NAME), "guest");
        // Below the rows the current row stays.
        rightClick(dlg, -1);
        EXPECT_EQ(dlg.m_curRow, 2);
        EXPECT_EQ(textOf(dlg, IDC_EDIT_NAME), "guest");
    });
}

TEST_F(UserCommandsTest, ChosenEntriesSwitchTheModeOrReload) {
    runLoggedIn([&](CrolvaneDlg& dlg) {
        rightClick(dlg, 1, ID_USER_EDIT);
        EXPECT_EQ(dlg.m_editMode, ModeEdit);
        EXPECT_EQ(dlg.m_curRow, 1);
        EXPECT_TRUE(isEnabled(dlg, IDC_EDIT_NAME));
        EXPECT_EQ(textOf(dlg, IDC_EDIT_NAME), "op");
        dlg.SendMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);

        rightClick(dlg, -1, ID_USER_NEW);
        EXPECT_EQ(dlg.m_editMode, ModeNew);
        EXPECT_EQ(dlg.m_curRow, 4);
        EXPECT_EQ(textOf(dlg, IDC_EDIT_NAME), "");
        dlg.SendMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);

        rightClick(dlg, 2, ID_USER_CHANGEPWD);
        EXPECT_EQ(dlg.m_editMode, ModePassword);
        EXPECT_TRUE(isShown(dlg, IDC_EDIT_CONFIRM));
        dlg.SendMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);

        // Refresh reads the store again and keeps the mode.
        fakestore::script().users.pop_back();
        fakestore::calls().clear();
        rightClick(dlg, 1, ID_USER_REFRESH);
        EXPECT_EQ(fakestore::callsFrom("get_user_list"),
                  (std::vector<std::string>{"get_user_list(null)", "get_user_list(buf)"}));
        EXPECT_EQ(dlg.m_userList.GetItemCount(), 3);
        EXPECT_EQ(dlg.m_editMode, ModeBrowse);
    });
}

TEST_F(UserCommandsTest, DeleteRefusalsAskNothingAndCallNoStore) {
    struct Case {
        const char* what;
        const char* user;
        int group;
        int row;
        const char* text;  // null: nothing shown
    };
    const Case cases[] = {
        {"no current row", "root", 4, -1, nullptr},
        {"own level", "root", 4, 0, "权限不够..不能删除此级别用户.."},
        {"qorvel's menu exemption does not apply", "qorvel", 2, 0,
         "权限不够..不能删除此级别用户.."},
        {"own row with a level text not in the table", "odd", 2, 3, "不能删除自己.."},
    };
    runLoggedIn([&](CrolvaneDlg& dlg) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.what);
            fakestore::script().curUser = c.user;
            fakestore::script().group = c.group;
            dlg.m_curRow = c.row;
            MessageBoxScript boxes;
            if (c.text) boxes.expect();
            dlg.SendMessage(WM_COMMAND, ID_USER_DELETE, 0);
            if (c.text) {
                ASSERT_EQ(boxes.shown().size(), 1u);
                EXPECT_EQ(boxes.shown()[0].text, cp(c.text));
                EXPECT_EQ(boxes.shown()[0].caption, cp("警告"));
                EXPECT_EQ(boxes.shown()[0].type, kWarning);
            }
            EXPECT_TRUE(fakestore::callsFrom("del_user").empty());
            EXPECT_EQ(dlg.m_userList.GetItemCount(), 4);
            EXPECT_EQ(dlg.m_curRow, c.row);
        }
    });
}

TEST_F(UserCommandsTest, DeleteAsksAndOnlyYesDeletes) {
    runLoggedIn([&](CrolvaneDlg& dlg) {
        rightClick(dlg, 2);
        {
            MessageBoxScript boxes;
            boxes.expect(IDNO);
            dlg.SendMessage(WM_COMMAND, ID_USER_DELETE, 0);
            ASSERT_EQ(boxes.shown().size(), 1u);
            EXPECT_EQ(boxes.shown()[0].text, cp("确认删除此用户吗？用户名：guest"));
            EXPECT_EQ(boxes.shown()[0].caption, cp("提示"));
            EXPECT_EQ(boxes.shown()[0].type, UINT(MB_YESNO | MB_ICONINFORMATION));
        }
        EXPECT_TRUE(fakestore::callsFrom("del_user").empty());
        EXPECT_EQ(dlg.m_userList.GetItemCount(), 4);
        EXPECT_EQ(dlg.m_curRow, 2);

        {
            MessageBoxScript boxes;
            boxes.expect(IDYES);
            boxes.expect();
            dlg.SendMessage(WM_COMMAND, ID_USER_DELETE, 0);
            EXPECT_EQ(boxes.texts(),
                      (std::vector<std::string>{cp("确认删除此用户吗？用户名：guest"),
                                                cp("删除用户成功..")}));
            EXPECT_EQ(boxes.shown()[1].caption, cp("提示"));
            EXPECT_EQ(boxes.shown()[1].type, UINT(MB_OK | MB_ICONINFORMATION));
        }
        EXPECT_EQ(fakestore::callsFrom("del_user"), std::vector<std::string>{"del_user(guest)"});
        // The row above becomes current; the numbers stay until a reload.
        ASSERT_EQ(dlg.m_userList.GetItemCount(), 3);
        EXPECT_EQ(dlg.m_curRow, 1);
        EXPECT_EQ(textOf(dlg, IDC_EDIT_NAME), "op");
        EXPECT_EQ(dlg.m_userList.GetItemText(2, 0).str(), "04");
        EXPECT_EQ(dlg.m_userList.GetItemText(2, 1).str(), "odd");
        EXPECT_EQ(dlg.m_editMode, ModeBrowse);
        EXPECT_TRUE(isEnabled(dlg, IDC_USER_LIST));
    });
}

TEST_F(UserCommandsTest, DeletingTheFirstRowLeavesNoCurrentRow) {
    fakestore::script().users = {fakestore::user("op", 1, 1), fakestore::user("root", 4, 0)};
    runLoggedIn([&](CrolvaneDlg& dlg) {
        ASSERT_EQ(dlg.m_curRow, 0);
        MessageBoxScript boxes;
        boxes.expect(IDYES);
        boxes.expect();
        dlg.SendMessage(WM_COMMAND, ID_USER_DELETE, 0);
        EXPECT_EQ(dlg.m_curRow, -1);
        EXPECT_EQ(dlg.m_userList.GetItemCount(), 1);
        EXPECT_EQ(textOf(dlg, IDC_EDIT_NAME), "op");  // until another row is chosen
    });
}

TEST_F(UserCommandsTest, DeleteFailureChangesNothing) {
    fakestore::script().delUserResult = ERR_NO_SUCH_USER;  // deleted elsewhere meanwhile
    runLoggedIn([&](CrolvaneDlg& dlg) {
        rightClick(dlg, 1);
        MessageBoxScript boxes;
        boxes.expect(IDYES);
        boxes.expect();
        dlg.SendMessage(WM_COMMAND, ID_USER_DELETE, 0);
        ASSERT_EQ(boxes.shown().size(), 2u);
        EXPECT_EQ(boxes.shown()[1].text, cp("删除用户失败.."));
        EXPECT_EQ(boxes.shown()[1].caption, cp("错误"));
        EXPECT_EQ(boxes.shown()[1].type, UINT(MB_OK | MB_ICONERROR));
        EXPECT_EQ(dlg.m_userList.GetItemCount(), 4);
        EXPECT_EQ(dlg.m_curRow, 1);
        EXPECT_EQ(textOf(dlg, IDC_EDIT_NAME), "op");
    });
}

}  // namespace
