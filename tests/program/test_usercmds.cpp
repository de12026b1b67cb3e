// Managing users over the recording store: Save, the user list's menu and
// commands, and the password operations, each refusal with its message,
// focus and selection, and the exact store calls.
#include <QAbstractItemView>
#include <QAction>
#include <QMenu>
#include <QTest>
#include <map>

#include "program_test.h"
#include "res/resource.h"
#include "ui/testing_qt.h"

using namespace progtest;

namespace {

constexpr UINT kWarn = MB_OK | MB_ICONWARNING;
constexpr UINT kError = MB_OK | MB_ICONERROR;
constexpr UINT kInfo = MB_OK | MB_ICONINFORMATION;
constexpr UINT kAsk = MB_YESNO | MB_ICONINFORMATION;
const std::string k15(15, 'p'), k16(16, 'p'), k31(31, 'a'), k32(32, 'a');

struct Shown {
    const char* text;  // UTF-8
    const char* caption;
    UINT type;
};

class UserCmdTest : public ::testing::Test {
protected:
    void SetUp() override {
        fakestore::reset();
        fakestore::script().items = {fakestore::item("sys_limit", cp("系统权限").c_str()),
                                     fakestore::item("motion", "Motion"),
                                     fakestore::item("io", "IO")};
        fakestore::script().users = {fakestore::user("root", 4, 0xFFFFFFFFu),
                                     fakestore::user("op", 1, 5), fakestore::user("guest", 0, 0),
                                     fakestore::user("odd", 7, 0)};
    }
    void TearDown() override { EXPECT_TRUE(noWindowLeft()); }

    static void command(CrolvaneDlg& dlg, UINT id) { dlg.SendMessage(WM_COMMAND, id, 0); }
    static void select(CrolvaneDlg& dlg, int row) {
        dlg.m_curRow = row;
        dlg.ShowRowDetails();
    }
    // The form of ModeNew or ModeEdit; `ticks` bit i ticks box i.
    static void fill(CrolvaneDlg& dlg, const std::string& name, const std::string& pwd,
                     int levelSel, uint32_t ticks, bool all = false) {
        setTextOf(dlg, IDC_EDIT_NAME, cp(name.c_str()).c_str());
        setTextOf(dlg, IDC_EDIT_PWD, pwd.c_str());
        static_cast<CComboBox*>(dlg.GetDlgItem(IDC_COMBO_LEVEL))->SetCurSel(levelSel);
        for (int i = 0; i < dlg.m_permCount; ++i) dlg.m_permBoxes[i]->SetCheck((ticks >> i) & 1u);
        static_cast<CButton*>(dlg.GetDlgItem(IDC_CHECK_ALL))->SetCheck(all);
    }
    static void expectBoxes(const MessageBoxScript& boxes, std::vector<Shown> want) {
        ASSERT_EQ(boxes.shown().size(), want.size());
        for (size_t i = 0; i < want.size(); ++i) {
            EXPECT_EQ(boxes.shown()[i].text, cp(want[i].text));
            EXPECT_EQ(boxes.shown()[i].caption, cp(want[i].caption));
            EXPECT_EQ(boxes.shown()[i].type, want[i].type);
        }
    }
    static std::vector<std::string> writes() {
        std::vector<std::string> out;
        for (const std::string& c : fakestore::calls())
            for (const char* w : {"add_user", "change_user", "del_user", "change_pwd", "clear_pwd"})
                if (c.rfind(w, 0) == 0) out.push_back(c);
        return out;
    }
    // How the operator asks for the list's menu.
    enum Ask { kRightClick, kShiftF10, kMenuKey };
    // Asks for the menu of row `row` (-1: below the rows) as `ask` says: a
    // right click on it, or a left click that selects it and a key through
    // the window. Returns the entries offered (id -> enabled), empty when no
    // menu opened, picks `choose` if given and tells where the menu stood.
    static std::map<UINT, bool> menuFor(CrolvaneDlg& dlg, int row, Ask ask = kRightClick,
                                        UINT choose = 0, QPoint* shownAt = nullptr) {
        auto* view = qobject_cast<QAbstractItemView*>(widget(&dlg.m_userList));
        QPoint at(10, view->viewport()->height() - 3);
        if (row >= 0) {
            CRect r;
            dlg.m_userList.GetSubItemRect(row, 1, LVIR_BOUNDS, r);
            at = QPoint((r.left + r.right) / 2, (r.top + r.bottom) / 2);
        }
        std::map<UINT, bool> entries;
        auto previous = ui::SetModalHook([&](ui::ModalKind kind, CWnd* owner) {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (kind != ui::ModalKind::PopupMenu || !menu) return;
            EXPECT_EQ(owner, &dlg);
            if (shownAt) *shownAt = menu->pos();
            for (QAction* a : menu->actions()) entries[a->data().toUInt()] = a->isEnabled();
            for (QAction* a : menu->actions())
                if (a->data().toUInt() == choose) a->trigger();
            menu->close();
        });
        if (ask == kRightClick) {
            QTest::mouseClick(view->viewport(), Qt::RightButton, {}, at);
        } else {
            QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
            EXPECT_TRUE(sendKey(dlg, ask == kShiftF10 ? VK_F10 : VK_APPS,
                                ask == kShiftF10 ? kShift : kNoModifier));
        }
        ui::SetModalHook(previous);
        QTest::qWait(10);  // a chosen command is posted
        return entries;
    }
    static std::map<UINT, bool> rightClick(CrolvaneDlg& dlg, int row, UINT choose = 0) {
        return menuFor(dlg, row, kRightClick, choose);
    }
};

TEST_F(UserCmdTest, SaveRefusalsInOrderChangeNothing) {
    struct Case {
        EditMode mode;
        int row, group;
        uint32_t limit;
        std::string name, pwd;
        int level;
        uint32_t ticks;
        bool all;
        const char* text;
        int focus;
        bool selected;
    };
    // In ModeEdit the password box is hidden and takes no focus: it stays in
    // the name box.
    const Case cases[] = {
        {ModeNew, 0, 4, ~0u, "", "", 3, 0, false, "用户名不能为空..", IDC_EDIT_NAME, false},
        {ModeNew, 0, 4, ~0u, k32, "", 0, 0, false, "用户名长度不能超过32位..", IDC_EDIT_NAME, true},
        {ModeNew, 0, 4, ~0u, "操作员操作员操作员操作员操作员操", "", 0, 0, false,
         "用户名长度不能超过32位..", IDC_EDIT_NAME, true},
        {ModeNew, 0, 4, ~0u, "new", k16, 0, 0, false, "密码长度不能超过16位..", IDC_EDIT_PWD, true},
        {ModeNew, 0, 2, ~0u, "new", "", 1, 0, false, "权限不够..不能创建此级别用户..", IDC_EDIT_PWD,
         false},
        {ModeEdit, 1, 1, ~0u, "op", "", 0, 5, false, "权限不够..不能创建此级别用户..",
         IDC_EDIT_NAME, false},
        {ModeNew, 0, 4, 0b101, "new", "", 0, 0b010, false, "当前用户无权限设置此项:  Motion ",
         IDC_EDIT_PWD, false},
        {ModeNew, 0, 4, 0b001, "new", "", 0, 0, true, "当前用户无权限设置此项:  Motion ",
         IDC_EDIT_PWD, false},
        {ModeEdit, 1, 4, 0b110, "op", "", 0, 0b100, false, "当前用户无权限设置此项:  系统权限 ",
         IDC_EDIT_NAME, false},
        {ModeNew, 0, 4, ~0u, "guest", "", 0, 0, false, "用户名已经存在..", IDC_EDIT_NAME, true},
        {ModeEdit, 1, 4, ~0u, "root", "", 0, 5, false, "用户名已经存在..", IDC_EDIT_NAME, true},
    };
    runLoggedIn([&](CrolvaneDlg& dlg) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.text);
            fakestore::script().group = c.group;
            fakestore::script().limit = c.limit;
            select(dlg, c.row);
            command(dlg, c.mode == ModeNew ? ID_USER_NEW : ID_USER_EDIT);
            fill(dlg, c.name, c.pwd, c.level, c.ticks, c.all);
            const int row = dlg.m_curRow;
            MessageBoxScript boxes;
            boxes.expect();
            command(dlg, IDOK);
            expectBoxes(boxes, {{c.text, "警告", kWarn}});
            EXPECT_TRUE(waitFor([&] { return focusId() == c.focus; })) << focusId();
            EXPECT_EQ(allSelected(dlg, c.focus), c.selected);
            EXPECT_EQ(writes(), std::vector<std::string>{});
            EXPECT_EQ(dlg.m_editMode, c.mode);
            EXPECT_EQ(dlg.m_curRow, row);
            EXPECT_EQ(textOf(dlg, IDC_EDIT_NAME), cp(c.name.c_str()));
            command(dlg, IDCANCEL);
        }
    });
}

TEST_F(UserCmdTest, SaveSendsTheFormAndReloads) {
    struct Case {
        EditMode mode;
        int row, group;
        uint32_t limit;
        std::string name, pwd;
        int level;
        uint32_t ticks;
        bool all;
        std::string call;
        int rowAfter;
    };
    const Case cases[] = {
        {ModeNew, 0, 4, ~0u, k31, k15, 2, 0b011, false, "add_user(" + k31 + "," + k15 + ",3,3)", 3},
        {ModeNew, 0, 4, ~0u, "OP", "", 0, 0, false, "add_user(OP,,1,0)", 4},
        {ModeNew, 0, 4, 0b111, "all", "", 0, 0, true, "add_user(all,,1,4294967295)", 5},
        {ModeEdit, 1, 2, 0b001, "op", "", 0, 0b101, false, "change_user(op,op,1,5)", 1},
        {ModeEdit, 2, 1, ~0u, "guest", "", -1, 0, false, "change_user(guest,guest,0,0)", 2},
        {ModeEdit, 1, 4, ~0u, "operator", "", 0, 1, false, "change_user(op,operator,1,1)", 1},
    };
    runLoggedIn([&](CrolvaneDlg& dlg) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.call);
            fakestore::script().group = c.group;
            fakestore::script().limit = c.limit;
            select(dlg, c.row);
            command(dlg, c.mode == ModeNew ? ID_USER_NEW : ID_USER_EDIT);
            fill(dlg, c.name, c.pwd, c.level, c.ticks, c.all);
            fakestore::calls().clear();
            command(dlg, IDOK);
            // The rights are asked once per item.
            const std::vector<std::string> want = {"get_user_group(null)",
                                                   "get_user_limit(null)",
                                                   "get_user_limit(null)",
                                                   "get_user_limit(null)",
                                                   c.call,
                                                   "get_user_list(null)",
                                                   "get_user_list(buf)"};
            EXPECT_EQ(fakestore::calls(), want);
            EXPECT_EQ(dlg.m_editMode, ModeBrowse);
            EXPECT_TRUE(isEnabled(dlg, IDC_USER_LIST));
            // A new user leaves the row before it current: N - 1.
            EXPECT_EQ(dlg.m_curRow, c.rowAfter);
            EXPECT_EQ(textOf(dlg, IDC_EDIT_NAME), dlg.m_userList.GetItemText(c.rowAfter, 1).str());
        }
        EXPECT_EQ(dlg.m_userList.GetItemText(4, 2).str(), "Level_3");
        EXPECT_EQ(dlg.m_userList.GetItemText(4, 3).str(), "110");
    });
}

TEST_F(UserCmdTest, SaveFailuresOfTheStoreKeepTheForm) {
    fakestore::script().addUserResult = -5;                   // name taken meanwhile
    fakestore::script().changeUserResult = ERR_NO_SUCH_USER;  // renamed or deleted meanwhile
    runLoggedIn([&](CrolvaneDlg& dlg) {
        for (const EditMode mode : {ModeNew, ModeEdit}) {
            select(dlg, 1);
            command(dlg, mode == ModeNew ? ID_USER_NEW : ID_USER_EDIT);
            fill(dlg, "op1", "", 0, 1);
            ASSERT_TRUE(waitFor([&] { return focusId() == IDC_EDIT_NAME; }));
            MessageBoxScript boxes;
            boxes.expect();
            command(dlg, IDOK);
            expectBoxes(boxes,
                        {{mode == ModeNew ? "增加用户失败.." : "修改用户失败..", "错误", kError}});
            EXPECT_EQ(dlg.m_editMode, mode);
            EXPECT_EQ(textOf(dlg, IDC_EDIT_NAME), "op1");
            EXPECT_EQ(focusId(), IDC_EDIT_NAME);
            command(dlg, IDCANCEL);
        }
        EXPECT_EQ(writes(),
                  (std::vector<std::string>{"add_user(op1,,1,1)", "change_user(op,op1,1,1)"}));
        EXPECT_EQ(dlg.m_userList.GetItemCount(), 4);
    });
}

TEST_F(UserCmdTest, MenuIsOfferedByTheLevelRule) {
    struct Case {
        const char* user;
        int group, row;
        bool menu, rowCommands, changePwd;
    };
    const Case cases[] = {
        {"root", 4, -1, true, false, false},   {"root", 4, 0, true, false, true},
        {"root", 4, 1, true, true, true},      {"op2", 2, 0, true, false, true},
        {"op2", 2, 3, true, true, true},  // a level text not in the table counts as 1
        {"op1", 1, 1, true, false, true},      {"qorvel", 2, 0, true, true, true},
        {"qorvel", 2, -1, true, false, false}, {"zero", 0, 1, false, false, false},
    };
    runLoggedIn([&](CrolvaneDlg& dlg) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.user) + " row " + std::to_string(c.row));
            fakestore::script().curUser = c.user;
            fakestore::script().group = c.group;
            std::map<UINT, bool> want;
            if (c.menu)
                want = {{ID_USER_NEW, true},
                        {ID_USER_EDIT, c.rowCommands},
                        {ID_USER_CHANGEPWD, c.changePwd},
                        {ID_USER_CLEARPWD, c.rowCommands},
                        {ID_USER_DELETE, c.rowCommands},
                        {ID_USER_REFRESH, true}};
            // Shift+F10 and the Menu key on the selected row offer what a
            // right click on it offers.
            for (Ask ask : {kRightClick, kShiftF10, kMenuKey})
                EXPECT_EQ(menuFor(dlg, c.row, ask), want) << "asked by " << ask;
        }
    });
}

TEST_F(UserCmdTest, MenuKeysOpenTheMenuAtTheSelectedRowAndItsCommandsAct) {
    runLoggedIn([&](CrolvaneDlg& dlg) {
        QPoint shownAt;
        for (Ask ask : {kShiftF10, kMenuKey}) {
            SCOPED_TRACE(ask);
            menuFor(dlg, 2, ask, 0, &shownAt);
            CRect row;
            dlg.m_userList.GetSubItemRect(2, 0, LVIR_BOUNDS, row);
            dlg.m_userList.ClientToScreen(&row);
            EXPECT_GE(shownAt.y(), row.top);
            EXPECT_LE(shownAt.y(), row.bottom + 1);
            EXPECT_GE(shownAt.x(), row.left);
            EXPECT_LT(shownAt.x(), row.right);
        }
        menuFor(dlg, 1, kShiftF10, ID_USER_EDIT);
        EXPECT_EQ(dlg.m_editMode, ModeEdit);
        EXPECT_EQ(textOf(dlg, IDC_EDIT_NAME), "op");
        command(dlg, IDCANCEL);
    });
}

TEST_F(UserCmdTest, MenuCommandsActOnTheClickedRow) {
    runLoggedIn([&](CrolvaneDlg& dlg) {
        // Dismissed, the click still made the row current; below the rows it stays.
        rightClick(dlg, 2);
        rightClick(dlg, -1);
        EXPECT_EQ(dlg.m_curRow, 2);
        EXPECT_EQ(textOf(dlg, IDC_EDIT_NAME), "guest");

        rightClick(dlg, 1, ID_USER_EDIT);
        EXPECT_EQ(dlg.m_editMode, ModeEdit);
        EXPECT_EQ(textOf(dlg, IDC_EDIT_NAME), "op");
        command(dlg, IDCANCEL);
        rightClick(dlg, -1, ID_USER_NEW);
        EXPECT_EQ(dlg.m_editMode, ModeNew);
        EXPECT_EQ(dlg.m_curRow, 4);
        command(dlg, IDCANCEL);
        rightClick(dlg, 2, ID_USER_CHANGEPWD);
        EXPECT_EQ(dlg.m_editMode, ModePassword);
        command(dlg, IDCANCEL);

        fakestore::script().users.pop_back();
        rightClick(dlg, 1, ID_USER_REFRESH);
        EXPECT_EQ(dlg.m_userList.GetItemCount(), 3);
        EXPECT_EQ(dlg.m_editMode, ModeBrowse);
    });
}

TEST_F(UserCmdTest, DeleteRefusesAsksAndActs) {
    struct Case {
        const char* user;
        int group, row;
        std::vector<int> answers;
        int result;
        std::vector<Shown> boxes;
        int rowsAfter, rowAfter;
    };
    const Shown ask = {"确认删除此用户吗？用户名：guest", "提示", kAsk};
    const Case cases[] = {
        {"root", 4, -1, {}, 0, {}, 4, -1},
        {"root", 4, 0, {IDOK}, 0, {{"权限不够..不能删除此级别用户..", "警告", kWarn}}, 4, 0},
        // The menu's exemption does not reach the command.
        {"qorvel", 2, 0, {IDOK}, 0, {{"权限不够..不能删除此级别用户..", "警告", kWarn}}, 4, 0},
        {"odd", 2, 3, {IDOK}, 0, {{"不能删除自己..", "警告", kWarn}}, 4, 3},
        {"root", 4, 2, {IDNO}, 0, {ask}, 4, 2},
        {"root", 4, 2, {IDYES, IDOK}, -986, {ask, {"删除用户失败..", "错误", kError}}, 4, 2},
        {"root", 4, 2, {IDYES, IDOK}, 0, {ask, {"删除用户成功..", "提示", kInfo}}, 3, 1},
    };
    runLoggedIn([&](CrolvaneDlg& dlg) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.user) + " row " + std::to_string(c.row));
            fakestore::script().curUser = c.user;
            fakestore::script().group = c.group;
            fakestore::script().delUserResult = c.result;
            select(dlg, c.row);
            fakestore::calls().clear();
            MessageBoxScript boxes;
            for (int a : c.answers) boxes.expect(a);
            command(dlg, ID_USER_DELETE);
            expectBoxes(boxes, c.boxes);
            EXPECT_EQ(writes().size(), c.answers.size() > 1 ? 1u : 0u);
            EXPECT_EQ(dlg.m_userList.GetItemCount(), c.rowsAfter);
            EXPECT_EQ(dlg.m_curRow, c.rowAfter);
        }
        // The row above is shown; the numbers stay until a reload.
        EXPECT_EQ(textOf(dlg, IDC_EDIT_NAME), "op");
        EXPECT_EQ(dlg.m_userList.GetItemText(2, 0).str(), "04");
        EXPECT_EQ(dlg.m_editMode, ModeBrowse);

        // The first row deleted leaves none current; the form keeps it.
        fakestore::script().group = 2;
        fakestore::script().curUser = "op";
        select(dlg, 0);
        dlg.m_userList.SetItemText(0, 2, "Level_1");
        MessageBoxScript boxes;
        boxes.expect(IDYES);
        boxes.expect();
        command(dlg, ID_USER_DELETE);
        EXPECT_EQ(dlg.m_curRow, -1);
        EXPECT_EQ(textOf(dlg, IDC_EDIT_NAME), "root");
    });
}

TEST_F(UserCmdTest, ChangePasswordChecksInOrder) {
    struct Case {
        std::string oldPwd, newPwd, confirm;
        int result;
        Shown box;
        int focus;  // 0: unchanged, -1: not looked at
        bool selected, stored;
    };
    const Case cases[] = {
        {k16, "", "", 0, {"旧密码长度不能超过16位..", "警告", kWarn}, IDC_EDIT_PWD, true, false},
        {k15, "", "", 0, {"新密码不能为空..", "警告", kWarn}, IDC_EDIT_NEWPWD, false, false},
        {"",
         k16,
         k16,
         0,
         {"新密码长度不能超过16位..", "警告", kWarn},
         IDC_EDIT_NEWPWD,
         true,
         false},
        {"",
         "Pw",
         "pw",
         0,
         {"两次输入新密码不一致..", "警告", kWarn},
         IDC_EDIT_CONFIRM,
         true,
         false},
        {"bad",
         "new",
         "new",
         ERR_BAD_PASSWORD,
         {"旧密码输入错误..", "警告", kWarn},
         IDC_EDIT_PWD,
         true,
         true},
        {"old", "new", "new", -13, {"修改密码失败..", "错误", kError}, 0, false, true},
        // A cleared account: the empty old password; blanks are a password.
        {"", "  ", "  ", 0, {"修改密码成功..", "提示", kInfo}, -1, false, true},
    };
    runLoggedIn([&](CrolvaneDlg& dlg) {
        select(dlg, 1);
        command(dlg, ID_USER_CHANGEPWD);
        ASSERT_TRUE(waitFor([&] { return focusId() == IDC_EDIT_PWD; }));
        for (const Case& c : cases) {
            SCOPED_TRACE(c.box.text);
            fakestore::script().changePwdResult = c.result;
            fakestore::calls().clear();
            setTextOf(dlg, IDC_EDIT_PWD, c.oldPwd.c_str());
            setTextOf(dlg, IDC_EDIT_NEWPWD, c.newPwd.c_str());
            setTextOf(dlg, IDC_EDIT_CONFIRM, c.confirm.c_str());
            const int focus = c.focus == 0 ? focusId() : c.focus;
            MessageBoxScript boxes;
            boxes.expect();
            command(dlg, IDOK);
            expectBoxes(boxes, {c.box});
            if (focus > 0) {
                EXPECT_TRUE(waitFor([&] { return focusId() == focus; })) << focusId();
                EXPECT_EQ(allSelected(dlg, focus), c.selected);
                EXPECT_EQ(dlg.m_editMode, ModePassword);
                EXPECT_EQ(textOf(dlg, IDC_EDIT_CONFIRM), c.confirm);
            }
            std::vector<std::string> stored;
            if (c.stored) stored = {"change_pwd(op," + c.oldPwd + "," + c.newPwd + ")"};
            EXPECT_EQ(writes(), stored);
        }
        // Only the success ends the mode and empties the boxes.
        EXPECT_EQ(dlg.m_editMode, ModeBrowse);
        EXPECT_EQ(textOf(dlg, IDC_EDIT_CONFIRM), "");
        EXPECT_FALSE(isShown(dlg, IDC_EDIT_CONFIRM));
    });
}

TEST_F(UserCmdTest, ClearPasswordAsksAndReportsOnlyAFailure) {
    const Shown ask = {"确认将用户：op 密码清空吗?", "确认", kAsk};
    struct Case {
        int answer, result;
        std::vector<Shown> boxes;
        bool cleared;
    };
    const Case cases[] = {
        {IDNO, 0, {ask}, false},
        {IDYES, 0, {ask}, true},
        {IDYES, -986, {ask, {"操作失败，请联系管理员...", "Error", kError}}, true}};
    runLoggedIn([&](CrolvaneDlg& dlg) {
        select(dlg, 1);
        for (const Case& c : cases) {
            fakestore::script().clearPwdResult = c.result;
            fakestore::calls().clear();
            MessageBoxScript boxes;
            boxes.expect(c.answer);
            if (c.boxes.size() > 1) boxes.expect();
            command(dlg, ID_USER_CLEARPWD);
            expectBoxes(boxes, c.boxes);
            EXPECT_EQ(writes().size(), c.cleared ? 1u : 0u);
            EXPECT_EQ(dlg.m_curRow, 1);
            EXPECT_EQ(dlg.m_userList.GetItemCount(), 4);
        }
    });
}

}  // namespace
