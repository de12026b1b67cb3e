// Change password through ModePassword and Save; clear password after a
// question.
#include "program_test.h"
#include "res/resource.h"

using namespace progtest;

namespace {

class PasswordTest : public ::testing::Test {
protected:
    void SetUp() override {
        fakestore::reset();
        fakestore::script().users = {fakestore::user("root", 4, 0xFFFFFFFFu),
                                     fakestore::user("op", 1, 0)};
    }
    void TearDown() override { EXPECT_TRUE(noWindowLeft()); }

    static void typeAndSave(CrolvaneDlg& dlg, const std::string& oldPwd, const std::string& newPwd,
                            const std::string& confirm) {
        setTextOf(dlg, IDC_EDIT_PWD, oldPwd.c_str());
        setTextOf(dlg, IDC_EDIT_NEWPWD, newPwd.c_str());
        setTextOf(dlg, IDC_EDIT_CONFIRM, confirm.c_str());
        dlg.SendMessage(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    }
};

const std::string k15(15, 'o');
const std::string k16(16, 'o');

TEST_F(PasswordTest, ChangeRefusalsAndStoreAnswers) {
    struct Case {
        const char* what;
        std::string oldPwd, newPwd, confirm;
        int result;        // the store's answer
        const char* text;  // UTF-8
        const char* caption;
        UINT type;
        int focus;  // 0: where it was
        bool selected;
        bool stored;  // change_pwd was called
    };
    const UINT warn = MB_OK | MB_ICONWARNING;
    const Case cases[] = {
        {"old of 16 bytes wins over an empty new one", k16, "", "", 0, "旧密码长度不能超过16位..",
         "警告", warn, IDC_EDIT_PWD, true, false},
        {"new empty", k15, "", "", 0, "新密码不能为空..", "警告", warn, IDC_EDIT_NEWPWD, false,
         false},
        {"new of 16 bytes", "", k16, k16, 0, "新密码长度不能超过16位..", "警告", warn,
         IDC_EDIT_NEWPWD, true, false},
        {"confirmation differs in letter case", "", "Secret", "secret", 0, "两次输入新密码不一致..",
         "警告", warn, IDC_EDIT_CONFIRM, true, false},
        {"old password wrong", "bad", "new", "new", ERR_BAD_PASSWORD, "旧密码输入错误..", "警告",
         warn, IDC_EDIT_PWD, true, true},
        {"any other store result", "old", "new", "new", -13, "修改密码失败..", "错误",
         MB_OK | MB_ICONERROR, 0, false, true},
    };
    runLoggedIn([&](CrolvaneDlg& dlg) {
        dlg.m_curRow = 1;
        dlg.ShowRowDetails();
        dlg.SendMessage(WM_COMMAND, ID_USER_CHANGEPWD, 0);
        ASSERT_TRUE(waitFor([&] { return focusId() == IDC_EDIT_PWD; }));
        for (const Case& c : cases) {
            SCOPED_TRACE(c.what);
            fakestore::script().changePwdResult = c.result;
            fakestore::calls().clear();
            const int focusBefore = focusId();
            MessageBoxScript boxes;
            boxes.expect();
            typeAndSave(dlg, c.oldPwd, c.newPwd, c.confirm);
            ASSERT_EQ(boxes.shown().size(), 1u);
            EXPECT_EQ(boxes.shown()[0].text, cp(c.text));
            EXPECT_EQ(boxes.shown()[0].caption, cp(c.caption));
            EXPECT_EQ(boxes.shown()[0].type, c.type);
            const int focus = c.focus ? c.focus : focusBefore;
            EXPECT_TRUE(waitFor([&] { return focusId() == focus; })) << focusId();
            EXPECT_EQ(allSelected(dlg, focus), c.selected);
            const auto stored = fakestore::callsFrom("change_pwd");
            if (c.stored)
                EXPECT_EQ(stored, std::vector<std::string>{"change_pwd(op," + c.oldPwd + "," +
                                                           c.newPwd + ")"});
            else
                EXPECT_TRUE(stored.empty());
            // Refused: the mode and the typed texts stay.
            EXPECT_EQ(dlg.m_editMode, ModePassword);
            EXPECT_EQ(textOf(dlg, IDC_EDIT_PWD), c.oldPwd);
            EXPECT_EQ(textOf(dlg, IDC_EDIT_CONFIRM), c.confirm);
        }
    });
}

TEST_F(PasswordTest, ClearedAccountTakesANewPasswordWithAnEmptyOldOne) {
    runLoggedIn([&](CrolvaneDlg& dlg) {
        dlg.m_curRow = 1;
        dlg.ShowRowDetails();
        dlg.SendMessage(WM_COMMAND, ID_USER_CHANGEPWD, 0);
        fakestore::calls().clear();
        MessageBoxScript boxes;
        boxes.expect();
        typeAndSave(dlg, "", "   ", "   ");  // blanks are a password
        ASSERT_EQ(boxes.shown().size(), 1u);
        EXPECT_EQ(boxes.shown()[0].text, cp("修改密码成功.."));
        EXPECT_EQ(boxes.shown()[0].caption, cp("提示"));
        EXPECT_EQ(boxes.shown()[0].type, UINT(MB_OK | MB_ICONINFORMATION));
        EXPECT_EQ(fakestore::calls(), std::vector<std::string>{"change_pwd(op,,   )"});
        EXPECT_EQ(dlg.m_editMode, ModeBrowse);
        for (int id : {IDC_EDIT_PWD, IDC_EDIT_NEWPWD, IDC_EDIT_CONFIRM}) {
            EXPECT_EQ(textOf(dlg, id), "") << id;
            EXPECT_FALSE(isShown(dlg, id)) << id;
        }
    });
}

TEST_F(PasswordTest, ClearAsksAndReportsOnlyAFailure) {
    struct Case {
        const char* what;
        int answer;
        int result;
        bool cleared;
        const char* failure;
    };
    const Case cases[] = {
        {"no", IDNO, 0, false, nullptr},
        {"yes, cleared silently", IDYES, 0, true, nullptr},
        {"yes, store fails", IDYES, ERR_NO_SUCH_USER, true, "操作失败，请联系管理员..."},
    };
    runLoggedIn([&](CrolvaneDlg& dlg) {
        dlg.m_curRow = 1;
        dlg.ShowRowDetails();
        for (const Case& c : cases) {
            SCOPED_TRACE(c.what);
            fakestore::script().clearPwdResult = c.result;
            fakestore::calls().clear();
            MessageBoxScript boxes;
            boxes.expect(c.answer);
            if (c.failure) boxes.expect();
            dlg.SendMessage(WM_COMMAND, ID_USER_CLEARPWD, 0);
            ASSERT_GE(boxes.shown().size(), 1u);
            EXPECT_EQ(boxes.shown()[0].text, cp("确认将用户：op 密码清空吗?"));
            EXPECT_EQ(boxes.shown()[0].caption, cp("确认"));
            EXPECT_EQ(boxes.shown()[0].type, UINT(MB_YESNO | MB_ICONINFORMATION));
            EXPECT_EQ(boxes.shown().size(), c.failure ? 2u : 1u);
            if (c.failure) {
                EXPECT_EQ(boxes.shown()[1].text, cp(c.failure));
                EXPECT_EQ(boxes.shown()[1].caption, "Error");
                EXPECT_EQ(boxes.shown()[1].type, UINT(MB_OK | MB_ICONERROR));
            }
            EXPECT_EQ(fakestore::calls(), c.cleared ? std::vector<std::string>{"clear_pwd(op)"}
                                                    : std::vector<std::string>{});
            EXPECT_EQ(dlg.m_curRow, 1);
            EXPECT_EQ(dlg.m_editMode, ModeBrowse);
            EXPECT_EQ(dlg.m_userList.GetItemCount(), 2);
        }
    });
}

}  // namespace
