// Support for tests of the program's dialogs: the main dialog run through
// its real start path over the recording fake store. The GUI test kit
// (ui/testing.h: message boxes answered from a script, the main) does the
// rest.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "fake_keyward.h"
#include "shelldlg/logindlg.h"
#include "ui/framework.h"
#include "ui/testing.h"
#include "userdlg/rolvanedlg.h"

namespace progtest {

using namespace ui::test;

// A fresh store holding root (level 4, every item) and op (level 1) and the
// built-in item; each test ends with no window left.
class TwoUserTest : public ::testing::Test {
protected:
    void SetUp() override {
        fakestore::reset();
        fakestore::script().users = {fakestore::user("root", 4, 0xFFFFFFFFu),
                                     fakestore::user("op", 1, 1)};
        fakestore::script().items = {fakestore::item("sys_limit", cp936("系统权限").c_str())};
    }
    void TearDown() override { EXPECT_TRUE(noWindowLeft()); }
};

// Runs a dialog's modal loop with callbacks for each dialog that opens.
// `onLogin` acts on the login dialog; `whileOpen` runs once the main dialog
// is in use (no other modal dialog above it) and must close it. Fails the
// test and closes everything if a dialog stays open past the timeout.
struct MainRun {
    MainRun(std::function<void(CLoginDlg&)> login, std::function<void(CrolvaneDlg&)> open = {},
            std::function<void(CDialog&)> other = {})
        : onLogin(std::move(login)), whileOpen(std::move(open)), onOtherDialog(std::move(other)) {}
    std::function<void(CLoginDlg&)> onLogin;
    std::function<void(CrolvaneDlg&)> whileOpen;
    std::function<void(CDialog&)> onOtherDialog;
    int timeoutMs = 15000;
};
INT_PTR runMainDialog(CrolvaneDlg& dlg, const MainRun& run);

// Runs the main dialog, logs in as root and runs `body` on the dialog in use;
// closes the dialog afterwards if the body left it open.
INT_PTR runLoggedIn(const std::function<void(CrolvaneDlg&)>& body);

// Logs in through the login dialog's edits and its Login button.
void loginAs(CLoginDlg& login, const char* user, const char* password);

// Test sources are UTF-8, the program's texts are CP936.
inline std::string cp(const char* utf8) {
    return cp936(utf8);
}

// A non-empty text in edit `editId` of `parent`, all of it selected.
bool allSelected(CWnd& parent, int editId);

}  // namespace progtest
