// The account policy as the operator meets it: the login window's locked
// and expired refusals, a password to be changed first, the expiry
// warning, the rules box in Save and Change password, and the idle lock
// that hides the main window behind the login window again.
#include <QTest>
#include <QTimer>
#include <QWindow>

#include "program_test.h"
#include "res/resource.h"
#include "ui/testing_qt.h"

using namespace progtest;

namespace {

constexpr UINT kLoginBox = MB_OK | MB_ICONINFORMATION;
constexpr UINT kWarn = MB_OK | MB_ICONWARNING;
constexpr UINT kInfo = MB_OK | MB_ICONINFORMATION;

class PolicyTest : public TwoUserTest {
protected:
    void TearDown() override {
        ui::SetClockRate(1);
        TwoUserTest::TearDown();
    }
    static void command(CrolvaneDlg& dlg, UINT id) { dlg.SendMessage(WM_COMMAND, id, 0); }
    static size_t countOf(const std::string& call) {
        const auto& calls = fakestore::calls();
        return size_t(std::count(calls.begin(), calls.end(), call));
    }
};

TEST_F(PolicyTest, LoginRefusalsOfThePolicySayWhyAndKeepTheWindow) {
    struct Case {
        int result;
        std::string message;
    };
    const Case cases[] = {{ERR_ACCOUNT_LOCKED, cp("账户已锁定，请稍后再试或联系管理员.")},
                          {ERR_PASSWORD_EXPIRED, cp("密码已过期，请联系管理员修改密码.")}};
    MessageBoxScript boxes;
    for (size_t i = 0; i < std::size(cases); ++i) boxes.expect();
    CrolvaneDlg dlg;
    const INT_PTR result = runMainDialog(
        dlg, {[&](CLoginDlg& login) {
                  ASSERT_TRUE(waitFor([&] { return isActive(login); }));
                  for (const Case& c : cases) {
                      SCOPED_TRACE(c.message);
                      fakestore::script().loginResult = c.result;
                      loginAs(login, "op", "right");
                      ASSERT_FALSE(boxes.shown().empty());
                      EXPECT_EQ(boxes.shown().back().text, c.message);
                      EXPECT_EQ(boxes.shown().back().caption, cp("登录失败"));
                      EXPECT_EQ(boxes.shown().back().type, kLoginBox);
                      // Another password would not help: the name is
                      // offered for another account.
                      EXPECT_TRUE(waitFor([] { return focusId() == IDC_EDIT_ACCOUNT; }));
                      EXPECT_TRUE(allSelected(login, IDC_EDIT_ACCOUNT));
                      EXPECT_EQ(textOf(login, IDC_EDIT_LOGINPWD), "right");
                  }
                  login.EndDialog(IDCANCEL);
              },
              [](CrolvaneDlg& main) {
                  ADD_FAILURE() << "a refused login opened the main window";
                  main.SendMessage(WM_CLOSE);
              }});
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(boxes.shown().size(), std::size(cases));
}

TEST_F(PolicyTest, APasswordToChangeFirstOpensChangePasswordOnTheOwnRow) {
    fakestore::script().loginResult = ERR_MUST_CHANGE_PWD;
    fakestore::script().group = 1;
    MessageBoxScript boxes;
    boxes.expect();  // the notice
    boxes.expect();  // the change's success
    CrolvaneDlg dlg;
    std::string status;
    runMainDialog(dlg, {[](CLoginDlg& login) { loginAs(login, "op", "initial"); },
                        [&](CrolvaneDlg& main) {
                            status = textOf(main, IDC_STATIC_CURUSER);
                            EXPECT_EQ(main.m_editMode, ModePassword);
                            EXPECT_EQ(main.m_curRow, 1);
                            EXPECT_EQ(textOf(main, IDC_EDIT_NAME), "op");
                            EXPECT_TRUE(isShown(main, IDC_EDIT_CONFIRM));
                            setTextOf(main, IDC_EDIT_PWD, "initial");
                            setTextOf(main, IDC_EDIT_NEWPWD, "n3w");
                            setTextOf(main, IDC_EDIT_CONFIRM, "n3w");
                            command(main, IDOK);
                            EXPECT_EQ(main.m_editMode, ModeBrowse);
                            main.SendMessage(WM_CLOSE);
                        }});
    EXPECT_EQ(status, cp("当前用户：op   级别：Level_1"));
    ASSERT_EQ(boxes.shown().size(), 2u);
    EXPECT_EQ(boxes.shown()[0].text, cp("您的密码由他人设置，请先修改密码后再使用."));
    EXPECT_EQ(boxes.shown()[0].caption, cp("提示"));
    EXPECT_EQ(boxes.shown()[0].type, kInfo);
    EXPECT_EQ(boxes.shown()[1].text, cp("修改密码成功.."));
    EXPECT_EQ(countOf("change_pwd(op,initial,n3w)"), 1u);
    // No expiry warning is looked for before the change.
    EXPECT_EQ(countOf("get_pwd_days_left(null)"), 0u);
}

TEST_F(PolicyTest, ExpiryIsWarnedOfWithinWarnDaysOnly) {
    struct Case {
        int warnDays, daysLeft;
        bool warned;
    };
    const Case cases[] = {
        {0, KEYWARD_NO_EXPIRY, false},  // the defaults
        {7, KEYWARD_NO_EXPIRY, false}, {7, 8, false}, {7, 7, true}, {7, 0, true}, {0, 0, false},
        {7, ERR_UNAVAILABLE, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.warnDays << " " << c.daysLeft);
        fakestore::reset();
        fakestore::script().users = {fakestore::user("root", 4, 0xFFFFFFFFu)};
        fakestore::script().policy["warn_days"] = c.warnDays;
        fakestore::script().daysLeft = c.daysLeft;
        MessageBoxScript boxes;
        if (c.warned) boxes.expect();
        CrolvaneDlg dlg;
        bool opened = false;
        runMainDialog(dlg, {[](CLoginDlg& login) { loginAs(login, "root", "pw"); },
                            [&](CrolvaneDlg& main) {
                                opened = true;
                                EXPECT_EQ(main.m_editMode, ModeBrowse);
                                main.SendMessage(WM_CLOSE);
                            }});
        EXPECT_TRUE(opened);
        if (c.warned) {
            ASSERT_EQ(boxes.shown().size(), 1u);
            EXPECT_EQ(boxes.shown()[0].text,
                      cp(("您的密码将在" + std::to_string(c.daysLeft) + "天后过期，请及时修改密码.")
                             .c_str()));
            EXPECT_EQ(boxes.shown()[0].type, kInfo);
        }
    }
}

TEST_F(PolicyTest, TheRulesBoxNamesThePolicysFiguresInSaveAndChangePassword) {
    struct Case {
        UINT mode;
        int focus;
    };
    const Case cases[] = {{ID_USER_NEW, IDC_EDIT_PWD}, {ID_USER_CHANGEPWD, IDC_EDIT_NEWPWD}};
    fakestore::script().policy = {{"min_length", 10}, {"min_classes", 3}};
    fakestore::script().addUserResult = ERR_PASSWORD_POLICY;
    fakestore::script().changePwdResult = ERR_PASSWORD_POLICY;
    runLoggedIn([&](CrolvaneDlg& dlg) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.mode);
            dlg.m_curRow = 1;
            dlg.ShowRowDetails();
            command(dlg, c.mode);
            if (c.mode == ID_USER_NEW) {
                setTextOf(dlg, IDC_EDIT_NAME, "new");
                setTextOf(dlg, IDC_EDIT_PWD, "short");
            } else {
                setTextOf(dlg, IDC_EDIT_PWD, "old");
                setTextOf(dlg, IDC_EDIT_NEWPWD, "short");
                setTextOf(dlg, IDC_EDIT_CONFIRM, "short");
            }
            const EditMode mode = dlg.m_editMode;
            MessageBoxScript boxes;
            boxes.expect();
            command(dlg, IDOK);
            ASSERT_EQ(boxes.shown().size(), 1u);
            EXPECT_EQ(boxes.shown()[0].text, cp("密码不符合安全策略：至少10位，包含3类字符.."));
            EXPECT_EQ(boxes.shown()[0].caption, cp("警告"));
            EXPECT_EQ(boxes.shown()[0].type, kWarn);
            // The form stays for another password, that one selected.
            EXPECT_EQ(dlg.m_editMode, mode);
            EXPECT_TRUE(waitFor([&] { return focusId() == c.focus; })) << focusId();
            EXPECT_TRUE(allSelected(dlg, c.focus));
            command(dlg, IDCANCEL);
        }
    });
    EXPECT_EQ(countOf("add_user(new,short,1,0)"), 1u);
    EXPECT_EQ(countOf("change_pwd(op,old,short)"), 1u);
}

// With the clock 600 times as fast, a minute passes in 100 ms.
constexpr unsigned kClockRate = 600;

TEST_F(PolicyTest, IdleLockHidesTheWindowBehindTheLoginAfterTheIdleTimeOnly) {
    fakestore::script().policy["idle_lock_minutes"] = 1;
    ui::SetClockRate(kClockRate);
    CrolvaneDlg dlg;
    int logins = 0;
    bool hidden = false;
    bool stoppedBeforeRelogin = false;
    bool aboutOpened = false;
    int rowsWhileLocked = 0;
    std::string statusWhileLocked, statusAfter, pwdBoxAfter;
    EditMode modeAfter = ModeNew;
    const INT_PTR result =
        runMainDialog(dlg, {[&](CLoginDlg& login) {
                                if (++logins == 1) {
                                    loginAs(login, "root", "pw");
                                    return;
                                }
                                // Back at the login window: the main window hidden, the
                                // store told to forget who was logged in.
                                hidden = !dlg.IsWindowVisible();
                                rowsWhileLocked = dlg.m_userList.GetItemCount();
                                statusWhileLocked = textOf(dlg, IDC_STATIC_CURUSER);
                                stoppedBeforeRelogin = fakestore::script().curUser.empty();
                                fakestore::script().group = 1;
                                loginAs(login, "op", "pw");
                                QTimer::singleShot(20, [&] {
                                    statusAfter = textOf(dlg, IDC_STATIC_CURUSER);
                                    pwdBoxAfter = textOf(dlg, IDC_EDIT_PWD);
                                    modeAfter = dlg.m_editMode;
                                    EXPECT_TRUE(dlg.IsWindowVisible());
                                    dlg.SendMessage(WM_CLOSE);
                                });
                            },
                            [&](CrolvaneDlg& main) {
                                // An edit under way, a password typed.
                                command(main, ID_USER_NEW);
                                setTextOf(main, IDC_EDIT_PWD, "half");
                                // Real input for twice the idle time keeps the window.
                                QWindow* window = widget(&main)->windowHandle();
                                for (int i = 0; i < 20; ++i) {
                                    QTest::mouseMove(window, QPoint(10 + i % 2, 10));
                                    QTest::qWait(10);
                                }
                                EXPECT_TRUE(main.IsWindowVisible()) << "locked while in use";
                                EXPECT_EQ(logins, 1);
                                // Another station adds a user meanwhile.
                                fakestore::script().users.push_back(fakestore::user("new", 1, 0));
                                // Then the idle time without any, the about box open above.
                                main.PostMessage(WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
                            },
                            [&](CDialog&) { aboutOpened = true; }});
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(logins, 2);
    EXPECT_TRUE(aboutOpened);
    EXPECT_TRUE(hidden);
    EXPECT_TRUE(stoppedBeforeRelogin);
    EXPECT_EQ(rowsWhileLocked, 3) << "the list read again";
    EXPECT_EQ(statusWhileLocked, cp("当前用户："));
    EXPECT_EQ(statusAfter, cp("当前用户：op   级别：Level_1"));
    EXPECT_EQ(pwdBoxAfter, "") << "the edit given up, its password emptied";
    EXPECT_EQ(modeAfter, ModeBrowse);
}

TEST_F(PolicyTest, WithTheDefaultsTheWindowNeverLocks) {
    ui::SetClockRate(kClockRate);
    bool visible = false;
    runLoggedIn([&](CrolvaneDlg& main) {
        QTest::qWait(300);  // three minutes of the faster clock
        visible = main.IsWindowVisible();
    });
    EXPECT_TRUE(visible);
    EXPECT_EQ(countOf("keyward_stop"), 1u) << "only at the close";
}

}  // namespace
