// Save in ModeNew and ModeEdit: every refusal in its order with its text,
// caption, icon, focus and selection, the store call, and the reload.
#include <QLineEdit>

#include "program_test.h"
#include "res/resource.h"

using namespace progtest;

namespace {

constexpr UINT kWarning = MB_OK | MB_ICONWARNING;
constexpr UINT kError = MB_OK | MB_ICONERROR;

// The form as the operator leaves it before Save.
struct Form {
    const char* name;  // UTF-8
    const char* pwd;
    int levelSel;    // position in the level box, -1 none
    uint32_t ticks;  // bit i ticks box i
    bool selectAll = false;
};

struct Case {
    const char* what;
    EditMode mode;
    int row;  // the edited row (ModeEdit)
    Form form;
    int group;         // the logged-in user's level
    uint32_t limit;    // the logged-in user's items
    const char* text;  // expected message (UTF-8); null: saved
    int focus = 0;
    bool selected = false;
};

class SaveUserTest : public ::testing::Test {
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

    // Enters the mode through its command and fills the form.
    static void enter(CrolvaneDlg& dlg, EditMode mode, int row, const Form& f) {
        if (mode == ModeEdit) {
            dlg.m_curRow = row;
            dlg.ShowRowDetails();
        }
        dlg.SendMessage(WM_COMMAND, mode == ModeNew ? ID_USER_NEW : ID_USER_EDIT, 0);
        setTextOf(dlg, IDC_EDIT_NAME, cp(f.name).c_str());
        setTextOf(dlg, IDC_EDIT_PWD, f.pwd);
        static_cast<CComboBox*>(dlg.GetDlgItem(IDC_COMBO_LEVEL))->SetCurSel(f.levelSel);
        if (f.ticks != ~0u)
            for (int i = 0; i < dlg.m_permCount; ++i)
                dlg.m_permBoxes[i]->SetCheck((f.ticks >> i) & 1u ? BST_CHECKED : BST_UNCHECKED);
        static_cast<CButton*>(dlg.GetDlgItem(IDC_CHECK_ALL))
            ->SetCheck(f.selectAll ? BST_CHECKED : BST_UNCHECKED);
    }
    static void save(CrolvaneDlg& dlg) {
        dlg.SendMessage(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    }
    static bool wrote() {
        for (const std::string& c : fakestore::calls())
            if (c.rfind("add_user", 0) == 0 || c.rfind("change_user", 0) == 0) return true;
        return false;
    }
};

const std::string k31(31, 'a');
const std::string k32(32, 'a');
const std::string k15(15, 'p');
const std::string k16(16, 'p');

TEST_F(SaveUserTest, RefusalsInOrderWithTheirFocusAndNoStoreCall) {
    const Case cases[] = {
        {"empty name, level also refused",
         ModeNew,
         0,
         {"", "", 3, 0},
         4,
         ~0u,
         "用户名不能为空..",
         IDC_EDIT_NAME,
         false},
        {"32 ASCII bytes",
         ModeNew,
         0,
         {k32.c_str(), "", 0, 0},
         4,
         ~0u,
         "用户名长度不能超过32位..",
         IDC_EDIT_NAME,
         true},
        {"16 Chinese characters are 32 bytes",
         ModeNew,
         0,
         {"操作员操作员操作员操作员操作员操", "", 0, 0},
         4,
         ~0u,
         "用户名长度不能超过32位..",
         IDC_EDIT_NAME,
         true},
        {"password of 16 bytes",
         ModeNew,
         0,
         {"newbie", k16.c_str(), 0, 0},
         4,
         ~0u,
         "密码长度不能超过16位..",
         IDC_EDIT_PWD,
         true},
        {"level equal to one's own",
         ModeNew,
         0,
         {"newbie", "", 1, 0},
         2,
         ~0u,
         "权限不够..不能创建此级别用户..",
         IDC_EDIT_PWD,
         false},
        // In ModeEdit the password box is hidden: a hidden box takes no
        // keys, so the focus stays in the name box.
        {"edit keeping a level at one's own",
         ModeEdit,
         1,
         {"op", "", 0, 5},
         1,
         ~0u,
         "权限不够..不能创建此级别用户..",
         IDC_EDIT_NAME,
         false},
        {"new: granting an item not held",
         ModeNew,
         0,
         {"newbie", "", 0, 0b010},
         4,
         0b101,
         "当前用户无权限设置此项:  Motion ",
         IDC_EDIT_PWD,
         false},
        {"new: select-all names the first item lacked",
         ModeNew,
         0,
         {"newbie", "", 0, 0, true},
         4,
         0b001,
         "当前用户无权限设置此项:  Motion ",
         IDC_EDIT_PWD,
         false},
        {"edit: taking away an item not held",
         ModeEdit,
         1,
         {"op", "", 0, 0b100},
         4,
         0b110,
         "当前用户无权限设置此项:  系统权限 ",
         IDC_EDIT_NAME,
         false},
        {"new: a name another row shows",
         ModeNew,
         0,
         {"guest", "", 0, 0},
         4,
         ~0u,
         "用户名已经存在..",
         IDC_EDIT_NAME,
         true},
        {"edit: renaming to another row's name",
         ModeEdit,
         1,
         {"root", "", 0, 5},
         4,
         ~0u,
         "用户名已经存在..",
         IDC_EDIT_NAME,
         true},
    };
    runLoggedIn([&](CrolvaneDlg& dlg) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.what);
            fakestore::script().group = c.group;
            fakestore::script().limit = c.limit;
            enter(dlg, c.mode, c.row, c.form);
            const int rowBefore = dlg.m_curRow;
            const std::string nameBefore = textOf(dlg, IDC_EDIT_NAME);
            fakestore::calls().clear();
            MessageBoxScript boxes;
            boxes.expect();
            save(dlg);
            ASSERT_EQ(boxes.shown().size(), 1u);
            EXPECT_EQ(boxes.shown()[0].text, cp(c.text));
            EXPECT_EQ(boxes.shown()[0].caption, cp("警告"));
            EXPECT_EQ(boxes.shown()[0].type, kWarning);
            EXPECT_EQ(boxes.shown()[0].owner, dlg.m_hWnd);
            EXPECT_TRUE(waitFor([&] { return focusId() == c.focus; })) << focusId();
            EXPECT_EQ(allSelected(dlg, c.focus), c.selected);
            EXPECT_FALSE(wrote());
            EXPECT_EQ(dlg.m_editMode, c.mode);
            EXPECT_EQ(dlg.m_curRow, rowBefore);
            EXPECT_EQ(textOf(dlg, IDC_EDIT_NAME), nameBefore);
            EXPECT_EQ(dlg.m_userList.GetItemCount(), 3);
            dlg.SendMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        }
    });
}

TEST_F(SaveUserTest, AcceptedFormsReachTheStoreAsGiven) {
    const Case cases[] = {
        {"31 bytes of name, 15 of password",
         ModeNew,
         0,
         {k31.c_str(), k15.c_str(), 2, 0b011},
         4,
         ~0u,
         nullptr},
        {"empty password, letter case differs from a row",
         ModeNew,
         0,
         {"OP", "", 0, 0},
         4,
         ~0u,
         nullptr},
        {"select-all while holding every existing item",
         ModeNew,
         0,
         {"all", "", 0, 0, true},
         4,
         0b111,
         nullptr},
        {"edit keeps its own name, untouched item not held",
         ModeEdit,
         1,
         {"op", "", 0, 0b101},
         2,
         0b001,
         nullptr},
        {"edit of a level-0 user left without a level",
         ModeEdit,
         2,
         {"guest", "", -1, 0},
         1,
         ~0u,
         nullptr},
    };
    const char* expected[] = {
        "add_user(aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa,ppppppppppppppp,3,3)",
        "add_user(OP,,1,0)",
        "add_user(all,,1,4294967295)",
        "change_user(op,op,1,5)",
        "change_user(guest,guest,0,0)",
    };
    const std::vector<UserRecord> users = fakestore::script().users;
    runLoggedIn([&](CrolvaneDlg& dlg) {
        for (size_t i = 0; i < std::size(cases); ++i) {
            const Case& c = cases[i];
            SCOPED_TRACE(c.what);
            fakestore::script().users = users;
            fakestore::script().group = c.group;
            fakestore::script().limit = c.limit;
            dlg.FillUserList();
            enter(dlg, c.mode, c.row, c.form);
            fakestore::calls().clear();
            save(dlg);
            const auto& log = fakestore::calls();
            // Rights are asked once per item, then the write, then the reload.
            std::vector<std::string> want(3, "get_user_limit(null)");
            want.insert(want.begin(), "get_user_group(null)");
            want.insert(want.end(), {expected[i], "get_user_list(null)", "get_user_list(buf)"});
            EXPECT_EQ(log, want);
            EXPECT_EQ(dlg.m_editMode, ModeBrowse);
            EXPECT_FALSE(isEnabled(dlg, IDC_EDIT_NAME));
            EXPECT_TRUE(isEnabled(dlg, IDC_USER_LIST));
        }
    });
}

TEST_F(SaveUserTest, NewUserEndsOnTheLastRowOfTheReloadedList) {
    runLoggedIn([&](CrolvaneDlg& dlg) {
        enter(dlg, ModeNew, 0, {"op1", "secret", 1, 0b001});
        EXPECT_EQ(dlg.m_curRow, 3);
        save(dlg);
        ASSERT_EQ(dlg.m_userList.GetItemCount(), 4);
        EXPECT_EQ(dlg.m_curRow, 2);  // N - 1: the store listed the new user after it
        EXPECT_EQ(dlg.m_userList.GetItemText(3, 1).str(), "op1");
        EXPECT_EQ(dlg.m_userList.GetItemText(3, 2).str(), "Level_2");
        EXPECT_EQ(dlg.m_userList.GetItemText(3, 3).str(), "100");
        EXPECT_EQ(textOf(dlg, IDC_EDIT_NAME), "guest");
        EXPECT_EQ(textOf(dlg, IDC_EDIT_PWD), "");
        EXPECT_FALSE(isShown(dlg, IDC_EDIT_PWD));
        EXPECT_EQ(dlg.m_userList.GetSelectedCount(), 0u);

        // An edit shows the same row index afterwards.
        enter(dlg, ModeEdit, 1, {"operator", "", 0, 0b101});
        save(dlg);
        EXPECT_EQ(dlg.m_curRow, 1);
        EXPECT_EQ(textOf(dlg, IDC_EDIT_NAME), "operator");
    });
}

TEST_F(SaveUserTest, StoreFailuresKeepTheFormAndTheMode) {
    struct Failure {
        EditMode mode;
        Form form;
        const char* text;
    };
    const Failure failures[] = {
        {ModeNew, {"op1", "pw", 0, 0}, "增加用户失败.."},
        {ModeEdit, {"renamed", "", 0, 5}, "修改用户失败.."},  // renamed or deleted meanwhile
    };
    fakestore::script().addUserResult = -5;
    fakestore::script().changeUserResult = ERR_NO_SUCH_USER;
    runLoggedIn([&](CrolvaneDlg& dlg) {
        for (const Failure& f : failures) {
            SCOPED_TRACE(f.text);
            enter(dlg, f.mode, 1, f.form);
            ASSERT_TRUE(waitFor([&] { return focusId() == IDC_EDIT_NAME; }));
            const int rowBefore = dlg.m_curRow;
            MessageBoxScript boxes;
            boxes.expect();
            save(dlg);
            ASSERT_EQ(boxes.shown().size(), 1u);
            EXPECT_EQ(boxes.shown()[0].text, cp(f.text));
            EXPECT_EQ(boxes.shown()[0].caption, cp("错误"));
            EXPECT_EQ(boxes.shown()[0].type, kError);
            EXPECT_EQ(dlg.m_editMode, f.mode);
            EXPECT_EQ(dlg.m_curRow, rowBefore);
            EXPECT_EQ(textOf(dlg, IDC_EDIT_NAME), cp(f.form.name));
            EXPECT_EQ(textOf(dlg, IDC_EDIT_PWD), f.form.pwd);
            EXPECT_EQ(focusId(), IDC_EDIT_NAME);
            EXPECT_EQ(fakestore::calls().back().rfind(
                          f.mode == ModeNew ? "add_user" : "change_user(op,renamed", 0),
                      0u);
            dlg.SendMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        }
    });
}

}  // namespace
