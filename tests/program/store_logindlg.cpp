// The login window over the real store, its folder one that not even root
// may write: the audit trail cannot take the attempts, and still a wrong
// password is told as wrong and the right one logs in.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "res/resource.h"
#include "shelldlg/logindlg.h"
#include "support.h"
#include "ui/testing.h"

namespace {

using namespace ui::test;

// Immutable for root, without write bits for anyone else.
bool protect(const std::string& path, bool on) {
    if (geteuid() == 0)
        return std::system(
                   ("chattr " + std::string(on ? "+i " : "-i ") + path + " 2>/dev/null").c_str()) ==
               0;
    return chmod(path.c_str(), on ? 0500 : 0700) == 0;
}

class LoginOverUnwritableStore : public kwtest::StoreTest {
protected:
    void TearDown() override {
        protect(folder(), false);
        EXPECT_TRUE(noWindowLeft());
        kwtest::StoreTest::TearDown();
    }
    std::string folder() const { return (m_dir / "store").string(); }
};

TEST_F(LoginOverUnwritableStore, AWrongPasswordIsToldAsWrongAndTheRightOneLogsIn) {
    ASSERT_EQ(add_user("op", "op-pw", 1, 0), KEYWARD_OK);
    keyward_stop();
    if (!protect(folder(), true)) GTEST_SKIP() << "cannot make the store's folder read-only";

    std::vector<ui::MessageBoxRequest> boxes;
    const auto presenter = ui::SetMessageBoxPresenter([&](const ui::MessageBoxRequest& r) {
        boxes.push_back(r);
        return IDOK;
    });
    CLoginDlg dlg;
    const INT_PTR result = runModal(dlg, [&] {
        setTextOf(dlg, IDC_EDIT_ACCOUNT, "op");
        setTextOf(dlg, IDC_EDIT_LOGINPWD, "wrong");
        click(dlg, IDC_BTN_LOGIN);
        ASSERT_TRUE(waitFor([&] { return !boxes.empty(); }));
        EXPECT_EQ(focusId(), IDC_EDIT_LOGINPWD);
        setTextOf(dlg, IDC_EDIT_LOGINPWD, "op-pw");
        click(dlg, IDC_BTN_LOGIN);
    });
    ui::SetMessageBoxPresenter(presenter);

    EXPECT_EQ(result, IDOK);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, cp936("登录密码错误."));
    EXPECT_EQ(boxes[0].caption, cp936("登录失败"));
    EXPECT_EQ(std::string(get_cur_user()), "op");
}

}  // namespace
