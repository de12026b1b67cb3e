// The login dialog and the main dialog's hand-over to it: emptiness checks,
// the store's results with their messages, focus and selection, Enter as
// Login, and the ways of giving up that end the program.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QLineEdit>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "program_test.h"
#include "res/resource.h"
#include "ui/testing_qt.h"

using namespace progtest;

namespace {

constexpr UINT kLoginBox = MB_OK | MB_ICONINFORMATION;

class LoginTest : public TwoUserTest {
protected:
    static void waitActive(CWnd& dlg) {
        ASSERT_TRUE(waitFor([&] { return isActive(dlg); }));
    }
    static void clickLogin(CLoginDlg& login) { click(login, IDC_BTN_LOGIN); }
    static bool allSelected(CLoginDlg& login, int id) {
        auto* edit = qobject_cast<QLineEdit*>(widget(login, id));
        return edit && !edit->text().isEmpty() && edit->selectedText() == edit->text();
    }
    static size_t loginCalls() {
        size_t n = 0;
        for (const auto& c : fakestore::calls()) n += c.rfind("login(", 0) == 0;
        return n;
    }
};

TEST_F(LoginTest, EmptyAccountIsReportedFirstAndBlanksCountAsContent) {
    MessageBoxScript boxes;
    boxes.expect();
    boxes.expect();
    CrolvaneDlg dlg;
    const INT_PTR result = runMainDialog(dlg, {[&](CLoginDlg& login) {
                                                   waitActive(login);
                                                   clickLogin(login);
                                                   EXPECT_EQ(focusId(), IDC_EDIT_ACCOUNT);
                                                   setTextOf(login, IDC_EDIT_ACCOUNT, "   ");
                                                   clickLogin(login);
                                                   EXPECT_EQ(focusId(), IDC_EDIT_LOGINPWD);
                                                   login.EndDialog(IDCANCEL);
                                               },
                                               {}});
    EXPECT_EQ(result, IDCANCEL);
    ASSERT_EQ(boxes.shown().size(), 2u);
    EXPECT_EQ(boxes.shown()[0].text, cp("用户名不能为空."));
    EXPECT_EQ(boxes.shown()[1].text, cp("密码不能为空."));
    for (const auto& b : boxes.shown()) {
        EXPECT_EQ(b.caption, cp("登录失败"));
        EXPECT_EQ(b.type, kLoginBox);
    }
    EXPECT_EQ(loginCalls(), 0u);
}

TEST_F(LoginTest, EachStoreResultHasItsMessageFocusAndSelection) {
    struct Case {
        int result;
        std::string message;
        int focus;
    };
    const Case cases[] = {{ERR_NO_SUCH_USER, cp("用户名错误."), IDC_EDIT_ACCOUNT},
                          {ERR_BAD_PASSWORD, cp("登录密码错误."), IDC_EDIT_LOGINPWD},
                          {-7, cp("未知错误，请联系管理员."), IDC_EDIT_ACCOUNT},
                          {3, cp("未知错误，请联系管理员."), IDC_EDIT_ACCOUNT}};
    MessageBoxScript boxes;
    for (size_t i = 0; i < std::size(cases); ++i) boxes.expect();
    CrolvaneDlg dlg;
    runMainDialog(dlg, {[&](CLoginDlg& login) {
                            waitActive(login);
                            for (const Case& c : cases) {
                                SCOPED_TRACE(c.message);
                                fakestore::script().loginResult = c.result;
                                setTextOf(login, IDC_EDIT_ACCOUNT, cp("张三").c_str());
                                setTextOf(login, IDC_EDIT_LOGINPWD, "pw 1");
                                clickLogin(login);
                                EXPECT_EQ(boxes.shown().back().text, c.message);
                                EXPECT_EQ(focusId(), c.focus);
                                EXPECT_TRUE(allSelected(login, c.focus));
                                // The typed texts stay for another try.
                                EXPECT_EQ(textOf(login, IDC_EDIT_ACCOUNT), cp("张三"));
                                EXPECT_EQ(textOf(login, IDC_EDIT_LOGINPWD), "pw 1");
                            }
                            login.EndDialog(IDCANCEL);
                        },
                        {}});
    EXPECT_EQ(loginCalls(), std::size(cases));
    EXPECT_EQ(fakestore::calls().end() - 3,
              std::find(fakestore::calls().begin(), fakestore::calls().end(), "keyward_stop"));
}

TEST_F(LoginTest, EnterInThePasswordBoxLogsInAndShowsUserAndLevel) {
    fakestore::script().group = 3;
    CrolvaneDlg dlg;
    std::string status;
    const INT_PTR result = runMainDialog(
        dlg, {[&](CLoginDlg& login) {
                  waitActive(login);
                  setTextOf(login, IDC_EDIT_ACCOUNT, "root");
                  setTextOf(login, IDC_EDIT_LOGINPWD, "s3cret");
                  login.GetDlgItem(IDC_EDIT_LOGINPWD)->SetFocus();
                  ASSERT_TRUE(waitFor([&] { return focusId() == IDC_EDIT_LOGINPWD; }));
                  sendKey(login, VK_RETURN);
              },
              [&](CrolvaneDlg& main) {
                  status = textOf(main, IDC_STATIC_CURUSER);
                  main.SendMessage(WM_CLOSE);
              }});
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(status, cp("当前用户：root   级别：Level_3"));
    // The level is asked before the name.
    const auto after = fakestore::callsFrom("login(");
    ASSERT_GE(after.size(), 3u);
    EXPECT_EQ(after[0], "login(root,s3cret)");
    EXPECT_EQ(after[1], "get_user_group(null)");
    EXPECT_EQ(after[2], "get_cur_user");
}

TEST_F(LoginTest, EnterInTheAccountBoxActsAsLoginToo) {
    MessageBoxScript boxes;
    boxes.expect();
    CrolvaneDlg dlg;
    runMainDialog(dlg, {[&](CLoginDlg& login) {
                            waitActive(login);
                            login.GetDlgItem(IDC_EDIT_ACCOUNT)->SetFocus();
                            ASSERT_TRUE(waitFor([&] { return focusId() == IDC_EDIT_ACCOUNT; }));
                            sendKey(login, VK_RETURN);
                            login.EndDialog(IDCANCEL);
                        },
                        {}});
    ASSERT_EQ(boxes.texts().size(), 1u);
    EXPECT_EQ(boxes.texts()[0], cp("用户名不能为空."));
}

TEST_F(LoginTest, LevelOutsideTheTableDoesNotIndexPastIt) {
    fakestore::script().group = 9;
    CrolvaneDlg dlg;
    std::string status;
    runMainDialog(dlg, {[&](CLoginDlg& login) { loginAs(login, "root", "x"); },
                        [&](CrolvaneDlg& main) {
                            status = textOf(main, IDC_STATIC_CURUSER);
                            main.SendMessage(WM_CLOSE);
                        }});
    EXPECT_EQ(status, cp("当前用户：root   级别：无效级别(9)"));
}

enum class GiveUp { Escape, ExitButton, CloseBox };

class LoginGiveUpTest : public LoginTest, public ::testing::WithParamInterface<GiveUp> {};

TEST_P(LoginGiveUpTest, EndsTheProgramWithNoStoreCallButTheStops) {
    CrolvaneDlg dlg;
    size_t before = 0;
    const INT_PTR result = runMainDialog(dlg, {[&](CLoginDlg& login) {
                                                   waitActive(login);
                                                   setTextOf(login, IDC_EDIT_ACCOUNT, "root");
                                                   before = fakestore::calls().size();
                                                   switch (GetParam()) {
                                                       case GiveUp::Escape:
                                                           sendKey(login, VK_ESCAPE);
                                                           break;
                                                       case GiveUp::ExitButton:
                                                           click(login, IDCANCEL);
                                                           break;
                                                       case GiveUp::CloseBox:
                                                           widget(&login)->close();
                                                           break;
                                                   }
                                               },
                                               [&](CrolvaneDlg& main) {
                                                   ADD_FAILURE() << "the main dialog stayed in use";
                                                   main.SendMessage(WM_CLOSE);
                                               }});
    EXPECT_EQ(result, IDCANCEL);
    const std::vector<std::string> after(fakestore::calls().begin() + long(before),
                                         fakestore::calls().end());
    EXPECT_EQ(after, (std::vector<std::string>{"keyward_stop", "trailbook_stop", "setbank_stop"}));
    EXPECT_EQ(dlg.m_hWnd, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Ways, LoginGiveUpTest,
                         ::testing::Values(GiveUp::Escape, GiveUp::ExitButton, GiveUp::CloseBox));

TEST_F(LoginTest, WindowIsFoundByItsTitleAndTabFollowsTheTemplate) {
    CrolvaneDlg dlg;
    std::vector<int> order;
    runMainDialog(dlg, {[&](CLoginDlg& login) {
                            waitActive(login);
                            EXPECT_EQ(widget(&login)->windowTitle(),
                                      QStringLiteral("登陆 -用户权限管理"));
                            EXPECT_EQ(login.GetClassName(), "#32770");
                            EXPECT_TRUE(login.GetExStyle() & WS_EX_APPWINDOW);
                            login.GetDlgItem(IDC_EDIT_ACCOUNT)->SetFocus();
                            waitFor([&] { return focusId() == IDC_EDIT_ACCOUNT; });
                            for (int i = 0; i < 4; ++i) {
                                sendKey(login, VK_TAB);
                                order.push_back(focusId());
                            }
                            login.EndDialog(IDCANCEL);
                        },
                        {}});
    EXPECT_EQ(order,
              (std::vector<int>{IDC_EDIT_LOGINPWD, IDC_BTN_LOGIN, IDCANCEL, IDC_EDIT_ACCOUNT}));
}

// What the program says on standard error and in the system log while it
// lives: the log's socket is one of its own (TRAILBOOK_SOCKET).
class TerminalAndLog {
public:
    TerminalAndLog() {
        const std::string socketPath = m_dir.filePath("log").toStdString();
        m_log = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, socketPath.c_str(), sizeof addr.sun_path - 1);
        EXPECT_EQ(::bind(m_log, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
        ::setenv("TRAILBOOK_SOCKET", socketPath.c_str(), 1);
        std::fflush(stderr);
        m_savedStderr = ::dup(2);
        m_stderrPath = m_dir.filePath("stderr").toStdString();
        const int file = ::open(m_stderrPath.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
        ::dup2(file, 2);
        ::close(file);
    }
    ~TerminalAndLog() {
        restore();
        ::close(m_log);
        ::unsetenv("TRAILBOOK_SOCKET");
    }
    std::string terminal() {
        restore();
        std::string out;
        if (FILE* f = std::fopen(m_stderrPath.c_str(), "r")) {
            char buf[512];
            while (std::fgets(buf, sizeof buf, f)) out += buf;
            std::fclose(f);
        }
        return out;
    }
    std::string log() {
        std::string out;
        char buf[1024];
        for (ssize_t n; (n = ::recv(m_log, buf, sizeof buf, 0)) > 0;) out.append(buf, size_t(n));
        return out;
    }

private:
    void restore() {
        if (m_savedStderr < 0) return;
        std::fflush(stderr);
        ::dup2(m_savedStderr, 2);
        ::close(m_savedStderr);
        m_savedStderr = -1;
    }
    QTemporaryDir m_dir;
    int m_log = -1;
    int m_savedStderr = -1;
    std::string m_stderrPath;
};

// On an empty store nobody can log in: before the login window, one box
// says how to create the first administrator, and the same goes to the
// terminal and the system log. A store with users, or one that cannot be
// read, says nothing of the kind.
TEST_F(LoginTest, AnEmptyStoreSaysHowToCreateTheFirstAdministrator) {
    const char* command = "keyward init --admin NAME";
    struct Case {
        const char* name;
        bool users;
        int listResult;
        bool told;
    } cases[] = {
        {"empty", false, 0, true},
        {"with users", true, 0, false},
        {"unreadable", false, ERR_UNAVAILABLE, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fakestore::script().users.clear();
        if (c.users) fakestore::script().users.push_back(fakestore::user("root", 4, 1));
        fakestore::script().userListResult = c.listResult;
        MessageBoxScript boxes;
        if (c.told) boxes.expect();
        TerminalAndLog said;
        size_t boxesBeforeLogin = 99;
        HWND mainWindow = nullptr;
        CrolvaneDlg dlg;
        runMainDialog(dlg, {[&](CLoginDlg& login) {
                                boxesBeforeLogin = boxes.shown().size();
                                mainWindow = dlg.GetSafeHwnd();
                                login.EndDialog(IDCANCEL);
                            },
                            {}});
        EXPECT_EQ(boxesBeforeLogin, c.told ? 1u : 0u);
        const std::string terminal = said.terminal();
        const std::string log = said.log();
        EXPECT_EQ(terminal.find(command) != std::string::npos, c.told) << terminal;
        EXPECT_EQ(log.find(command) != std::string::npos, c.told) << log;
        if (!c.told) continue;
        ASSERT_EQ(boxes.shown().size(), 1u);
        EXPECT_EQ(boxes.shown()[0].text,
                  cp("账户库中还没有用户。请在终端运行下面的命令创建第一个管理员"
                     "（NAME 换成管理员的用户名，命令会要求输入两次密码）：\n\n"
                     "keyward init --admin NAME"));
        EXPECT_EQ(boxes.shown()[0].caption, cp("提示"));
        EXPECT_EQ(boxes.shown()[0].type, UINT(MB_OK | MB_ICONINFORMATION));
        EXPECT_EQ(boxes.shown()[0].owner, mainWindow);
        EXPECT_NE(log.find("varnock"), std::string::npos) << "the platform's log ident";
    }
}

}  // namespace
