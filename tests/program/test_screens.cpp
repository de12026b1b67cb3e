// What an operator sees: the login and main windows rendered for real, with
// their Chinese texts drawn and the current user in magenta. Set
// ROLVANE_SCREENSHOT_DIR to keep the pictures.
#include <QImage>
#include <QPixmap>

#include "program_test.h"
#include "res/resource.h"
#include "ui/testing_qt.h"

using namespace progtest;

namespace {

QImage grab(CWnd& wnd, const char* name) {
    const QImage image = widget(&wnd)->grab().toImage();
    const QByteArray dir = qgetenv("ROLVANE_SCREENSHOT_DIR");
    if (!dir.isEmpty()) image.save(QString::fromLocal8Bit(dir) + "/" + name + ".png");
    return image;
}

// Pixels in the rectangle that differ from the rectangle's first pixel.
int inkIn(const QImage& image, const QRect& r) {
    const QRgb background = image.pixel(r.topLeft());
    int ink = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) ink += image.pixel(x, y) != background;
    return ink;
}

QRect rectOf(CWnd& dlg, int id) {
    const CRect r = clientRectOf(dlg, dlg.GetDlgItem(id));
    return QRect(r.left, r.top, r.Width(), r.Height());
}

class ScreensTest : public ::testing::Test {
protected:
    void SetUp() override {
        fakestore::reset();
        auto& s = fakestore::script();
        const char* titles[] = {"系统权限", "运动控制", "参数设置", "程序编辑",
                                "日志查看", "IO监视",   "报警复位"};
        const char* names[] = {"sys_limit", "motion", "params", "program", "log", "io", "alarm"};
        for (int i = 0; i < 7; ++i)
            s.items.push_back(fakestore::item(names[i], cp(titles[i]).c_str()));
        s.users = {fakestore::user("root", 4, 0xFFFFFFFFu),
                   fakestore::user(cp("张工").c_str(), 3, 0x3F),
                   fakestore::user("operator", 1, 0b0100011)};
        s.group = 4;
    }
    void TearDown() override { EXPECT_TRUE(noWindowLeft()); }
};

TEST_F(ScreensTest, LoginAndMainWindowsDrawTheirTexts) {
    CrolvaneDlg dlg;
    runMainDialog(
        dlg,
        {[&](CLoginDlg& login) {
             const QImage image = grab(login, "login");
             EXPECT_EQ(image.size(), widget(&login)->size());
             // The welcome line and both buttons carry drawn text.
             EXPECT_GT(inkIn(image, QRect(0, 0, image.width(), image.height() / 4)), 50);
             EXPECT_GT(inkIn(image, rectOf(login, IDC_BTN_LOGIN).adjusted(3, 3, -3, -3)), 20);
             loginAs(login, "root", "pw");
         },
         [&](CrolvaneDlg& main) {
             QImage image = grab(main, "main");
             // The status line is drawn in magenta.
             const QRect status = rectOf(main, IDC_STATIC_CURUSER);
             int magenta = 0;
             for (int y = status.top(); y <= status.bottom(); ++y)
                 for (int x = status.left(); x <= status.right(); ++x) {
                     const QColor c = image.pixelColor(x, y);
                     magenta += c.red() > 200 && c.blue() > 200 && c.green() < 120;
                 }
             EXPECT_GT(magenta, 20);
             // Every permission box shows its caption.
             for (int i = 0; i < 7; ++i) {
                 const CRect r = clientRectOf(main, main.m_permBoxes[i]);
                 EXPECT_GT(inkIn(image, QRect(r.left + 16, r.top, r.Width() - 16, r.Height())), 10)
                     << i;
             }
             // The password mode shows the three password boxes as well.
             main.m_editMode = ModePassword;
             main.ApplyEditMode();
             image = grab(main, "main-password");
             EXPECT_GT(inkIn(image, rectOf(main, IDC_STATIC_CONFIRM)), 10);
             main.m_editMode = ModeBrowse;
             main.ApplyEditMode();
             main.SendMessage(WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
             main.SendMessage(WM_CLOSE);
         },
         [&](CDialog& about) {
             const QImage image = grab(about, "about");
             // The program icon stands at 14,14 dialog units, the text beside it.
             CRect icon(14, 14, 34, 34);
             about.MapDialogRect(&icon);
             EXPECT_GT(inkIn(image, QRect(icon.left, icon.top, 32, 32)), 100);
             EXPECT_GT(inkIn(image, QRect(icon.right + 10, icon.top, 100, 30)), 30);
             about.EndDialog(IDOK);
         }});
}

}  // namespace
