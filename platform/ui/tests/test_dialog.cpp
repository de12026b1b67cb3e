// Dialogs: the modal loop and its hook, the initial focus, dialog units to
// pixels, controls as the template describes them, data exchange binding,
// and what is left of a window after DestroyWindow.
#include <QBuffer>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLineEdit>
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "icons.h"
#include "ui_test.h"

namespace {

using uitest::CoreTest;
using uitest::focusId;

constexpr UINT kPing = WM_USER + 31;
constexpr UINT kEndPlease = WM_USER + 32;

constexpr int kModalDialog = 9300;
constexpr int kMissingDialog = 9399;
constexpr int kFocusDialog = 9310;
constexpr int kFocusFirst = 9315;
constexpr int kFocusButton = 9316;
constexpr int kUnitsDejaVu = 9320;
constexpr int kUnitsShellDlg = 9321;
constexpr int kControlsDialog = 9330;
constexpr int kNameStatic = 9331;
constexpr int kNameEdit = 9332;
constexpr int kPasswordEdit = 9333;
constexpr int kOkButton = 9334;
constexpr int kHiddenButton = 9335;
constexpr int kSelectAll = 9336;

// CP936 texts.
const char* const kCaption = "\xd3\xc3\xbb\xa7\xc8\xa8\xcf\xde\xb9\xdc\xc0\xed";  // 用户权限管理
const char* const kNameLabel = "\xd3\xc3\xbb\xa7\xc3\xfb:";                       // 用户名:
const char* const kZhangSan = "\xd5\xc5\xc8\xfd";                                 // 张三
const char* const kConfirm = "\xc8\xb7\xb6\xa8";                                  // 确定
const char* const kHide = "\xd2\xfe\xb2\xd8";                                     // 隐藏
const char* const kSelectAllText = "\xd1\xa1\xd4\xf1\xcb\xf9\xd3\xd0";            // 选择所有

constexpr DWORD kDialogStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;

void registerTemplates() {
    using ui::ControlKind;
    ui::RegisterDialog({kModalDialog,
                        "Modal",
                        100,
                        50,
                        "MS Shell Dlg",
                        9,
                        kDialogStyle,
                        {{ControlKind::Button, "OK", IDOK, 10, 30, 40, 14,
                          WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON}}});

    // The first control that can take the focus is the fifth one.
    ui::RegisterDialog(
        {kFocusDialog,
         "Focus",
         160,
         100,
         "MS Shell Dlg",
         9,
         kDialogStyle,
         {{ControlKind::Static, "s", 9311, 5, 5, 40, 10, WS_VISIBLE | WS_TABSTOP},
          {ControlKind::Edit, "", 9312, 5, 20, 60, 14, WS_VISIBLE | WS_TABSTOP | WS_DISABLED},
          {ControlKind::Edit, "", 9313, 5, 35, 60, 14, WS_TABSTOP},
          {ControlKind::Edit, "", 9314, 5, 50, 60, 14, WS_VISIBLE},
          {ControlKind::Edit, "", kFocusFirst, 5, 65, 60, 14, WS_VISIBLE | WS_TABSTOP},
          {ControlKind::Button, "B", kFocusButton, 80, 65, 40, 14, WS_VISIBLE | WS_TABSTOP}}});

    // Odd coordinates, so that some conversions land on a half pixel. No
    // text: a text that needs more room would take it.
    std::vector<ui::ControlTemplate> units;
    for (int i = 1; i <= 7; ++i)
        units.push_back({ControlKind::Static, "", 9340 + i, i, i + (i == 3 ? 1 : 0), 4 * i + 3,
                         2 * i + 5, WS_VISIBLE});
    ui::RegisterDialog({kUnitsDejaVu, "Units", 187, 93, "DejaVu Sans", 10, kDialogStyle, units});
    ui::RegisterDialog({kUnitsShellDlg, "Units", 213, 101, "MS Shell Dlg", 9, kDialogStyle, units});

    ui::RegisterDialog(
        {kControlsDialog,
         kCaption,
         200,
         100,
         "MS Shell Dlg",
         9,
         kDialogStyle,
         {{ControlKind::Static, kNameLabel, kNameStatic, 5, 7, 40, 10, WS_VISIBLE},
          {ControlKind::Edit, kZhangSan, kNameEdit, 50, 5, 80, 14,
           WS_VISIBLE | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL},
          {ControlKind::Edit, "", kPasswordEdit, 50, 22, 80, 14,
           WS_VISIBLE | WS_TABSTOP | WS_BORDER | ES_PASSWORD | WS_DISABLED},
          {ControlKind::Button, kConfirm, kOkButton, 5, 80, 50, 14,
           WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON},
          {ControlKind::Button, kHide, kHiddenButton, 60, 80, 50, 14, WS_TABSTOP | BS_PUSHBUTTON},
          {ControlKind::Button, kSelectAllText, kSelectAll, 5, 60, 80, 12,
           WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX}}});
}

// Ends itself when asked by a posted message.
class ModalDialog : public CDialog {
public:
    explicit ModalDialog(UINT id = kModalDialog) : CDialog(id) {}
    std::function<void()> onInit;
    bool defaultFocus = true;

protected:
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        if (onInit) onInit();
        return defaultFocus ? TRUE : FALSE;
    }
    LRESULT OnEndPlease(WPARAM wParam, LPARAM) {
        EndDialog(int(wParam));
        return 0;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(ModalDialog, CDialog)
ON_MESSAGE(kEndPlease, OnEndPlease)
END_MESSAGE_MAP()

// An edit with a message map of its own, bound by data exchange.
class PingEdit : public CEdit {
public:
    int pings = 0;

protected:
    LRESULT OnPing(WPARAM, LPARAM) {
        ++pings;
        return 42;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(PingEdit, CEdit)
ON_MESSAGE(kPing, OnPing)
END_MESSAGE_MAP()

class BindingDialog : public CDialog {
public:
    BindingDialog() : CDialog(kControlsDialog) {}
    PingEdit m_editName;
    CButton m_checkAll;

protected:
    void DoDataExchange(CDataExchange* pDX) override {
        DDX_Control(pDX, kNameEdit, m_editName);
        DDX_Control(pDX, kSelectAll, m_checkAll);
    }
};

// What the conversion must give, computed apart from the framework.
struct Units {
    int baseX;
    int baseY;
    int x(int du) const { return int(std::lround(double(du) * baseX / 4.0)); }
    int y(int du) const { return int(std::lround(double(du) * baseY / 8.0)); }
};

Units unitsOf(const QFont& font) {
    const QFontMetrics m(font);
    const int letters =
        m.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return Units{(letters / 26 + 1) / 2, m.height()};
}

class Dialogs : public CoreTest {
protected:
    void SetUp() override {
        CoreTest::SetUp();
        registerTemplates();
    }
};

TEST_F(Dialogs, DoModalReturnsEndDialogsCodeFromInsideItsLoop) {
    ModalDialog dialog;
    int hookRuns = 0;
    // The end hook runs once the window is gone, before DoModal returns.
    std::vector<CWnd*> ended;
    ui::SetModalEndHook([&](ui::ModalKind kind, CWnd* wnd) {
        EXPECT_EQ(kind, ui::ModalKind::Dialog);
        EXPECT_EQ(dialog.m_hWnd, nullptr);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
        ended.push_back(wnd);
    });
    ui::SetModalHook([&](ui::ModalKind kind, CWnd* wnd) {
        ++hookRuns;
        EXPECT_EQ(kind, ui::ModalKind::Dialog);
        EXPECT_EQ(wnd, &dialog);
        EXPECT_TRUE(dialog.IsModalRunning());
        EXPECT_EQ(QApplication::activeModalWidget(), ui::detail::widgetOf(&dialog));
        EXPECT_TRUE(dialog.IsWindowVisible());
        dialog.EndDialog(4711);
    });
    EXPECT_EQ(dialog.DoModal(), 4711);
    EXPECT_EQ(hookRuns, 1);
    EXPECT_EQ(ended, std::vector<CWnd*>{&dialog});
    EXPECT_FALSE(dialog.IsModalRunning());
    EXPECT_EQ(dialog.m_hWnd, nullptr);

    // Posted messages are delivered by the dialog's loop; the same object
    // runs again with a fresh window.
    ui::SetModalHook([&](ui::ModalKind, CWnd*) { dialog.PostMessage(kEndPlease, 12); });
    EXPECT_EQ(dialog.DoModal(), 12);
    EXPECT_EQ(ended.size(), 2u);
}

TEST_F(Dialogs, NestedDialogsEachReturnTheirOwnCode) {
    ModalDialog outer, inner;
    INT_PTR innerResult = 0;
    ui::SetModalHook([&](ui::ModalKind, CWnd* wnd) {
        if (wnd == &outer) {
            innerResult = inner.DoModal();
            EXPECT_TRUE(outer.IsModalRunning());
            outer.EndDialog(1);
        } else if (wnd == &inner) {
            inner.EndDialog(2);
        }
    });
    std::vector<CWnd*> ended;
    ui::SetModalEndHook([&](ui::ModalKind, CWnd* wnd) { ended.push_back(wnd); });
    EXPECT_EQ(outer.DoModal(), 1);
    EXPECT_EQ(innerResult, 2);
    EXPECT_EQ(ended, (std::vector<CWnd*>{&inner, &outer}));
}

TEST_F(Dialogs, EndingDuringInitSkipsTheLoop) {
    ModalDialog dialog;
    dialog.onInit = [&] { dialog.EndDialog(3); };
    bool hookRan = false;
    ui::SetModalHook([&](ui::ModalKind, CWnd*) {
        hookRan = true;
        uitest::Watchdog::closeModals();
    });
    ui::SetModalEndHook([&](ui::ModalKind, CWnd*) { hookRan = true; });  // no loop, no end
    EXPECT_EQ(dialog.DoModal(), 3);
    EXPECT_FALSE(hookRan);

    ModalDialog missing(kMissingDialog);
    EXPECT_EQ(missing.DoModal(), -1);
    EXPECT_FALSE(hookRan);
    EXPECT_EQ(missing.m_hWnd, nullptr);
}

// The kit's own guards: a loop nobody ends is ended by the watchdog, which
// says so; a body that leaves its dialog open gets it closed.
TEST_F(Dialogs, KitEndsDialogsLeftOpen) {
    ModalDialog dialog;
    uitest::Watchdog watchdog(50);
    EXPECT_EQ(dialog.DoModal(), IDABORT);
    EXPECT_TRUE(watchdog.fired());
    EXPECT_EQ(uitest::runModal(dialog, [] {}), uitest::kLeftOpen);
}

TEST_F(Dialogs, InitialFocusGoesToTheFirstControlThatCanTakeIt) {
    ModalDialog dialog(kFocusDialog);
    int focused = 0;
    EXPECT_EQ(uitest::runModal(dialog,
                               [&] {
                                   (void)QTest::qWaitFor([] { return focusId() != 0; }, 2000);
                                   focused = focusId();
                                   dialog.EndDialog(IDOK);
                               }),
              IDOK);
    EXPECT_EQ(focused, kFocusFirst);

    // FALSE from OnInitDialog: the focus it set stays.
    ModalDialog ownFocus(kFocusDialog);
    ownFocus.defaultFocus = false;
    ownFocus.onInit = [&] { ownFocus.GetDlgItem(kFocusButton)->SetFocus(); };
    focused = 0;
    EXPECT_EQ(uitest::runModal(ownFocus,
                               [&] {
                                   (void)QTest::qWaitFor([] { return focusId() != 0; }, 2000);
                                   focused = focusId();
                                   ownFocus.EndDialog(IDOK);
                               }),
              IDOK);
    EXPECT_EQ(focused, kFocusButton);
}

TEST_F(Dialogs, DialogUnitsBecomePixelsFromTheTemplateFont) {
    bool sawHalf = false;
    for (const auto& [id, family, points] : {std::tuple{kUnitsDejaVu, "DejaVu Sans", 10},
                                             std::tuple{kUnitsShellDlg, "Noto Sans CJK SC", 9}}) {
        SCOPED_TRACE(family);
        const ui::DialogTemplate* t = ui::FindDialog(id);
        ASSERT_NE(t, nullptr);
        ModalDialog dialog{UINT(id)};
        EXPECT_EQ(uitest::runModal(
                      dialog,
                      [&] {
                          QWidget* w = ui::detail::widgetOf(&dialog);
                          EXPECT_EQ(QFontInfo(w->font()).family(), QString::fromLatin1(family));
                          EXPECT_EQ(w->font().pointSize(), points);
                          const Units u = unitsOf(w->font());

                          // The template's size is the client area.
                          CRect client;
                          dialog.GetClientRect(&client);
                          EXPECT_EQ(client, CRect(0, 0, u.x(t->cx), u.y(t->cy)));

                          for (const ui::ControlTemplate& c : t->controls) {
                              const QRect expected(
                                  QPoint(u.x(c.x), u.y(c.y)),
                                  QPoint(u.x(c.x + c.cx) - 1, u.y(c.y + c.cy) - 1));
                              CWnd* control = dialog.GetDlgItem(c.id);
                              ASSERT_NE(control, nullptr);
                              EXPECT_EQ(ui::detail::widgetOf(control)->geometry(), expected)
                                  << "control " << c.id;

                              CRect mapped(c.x, c.y, c.x + c.cx, c.y + c.cy);
                              dialog.MapDialogRect(&mapped);
                              EXPECT_EQ(mapped, CRect(expected.left(), expected.top(),
                                                      expected.right() + 1, expected.bottom() + 1));
                              for (int du : {c.x, c.x + c.cx}) sawHalf |= (du * u.baseX) % 4 == 2;
                              for (int du : {c.y, c.y + c.cy}) sawHalf |= (du * u.baseY) % 8 == 4;
                          }
                          dialog.EndDialog(IDOK);
                      }),
                  IDOK);
    }
    EXPECT_TRUE(sawHalf) << "no conversion landed on a half pixel; choose other coordinates";
}

TEST(MulDiv, RoundsHalfAwayFromZero) {
    EXPECT_EQ(MulDiv(5, 3, 2), 8);    // 7.5
    EXPECT_EQ(MulDiv(-5, 3, 2), -8);  // -7.5
    EXPECT_EQ(MulDiv(5, 3, -2), -8);
    EXPECT_EQ(MulDiv(-5, 3, -2), 8);
    EXPECT_EQ(MulDiv(-5, 1, 4), -1);  // -1.25
    EXPECT_EQ(MulDiv(-7, 1, 4), -2);  // -1.75
    EXPECT_EQ(MulDiv(7, 1, 4), 2);
    EXPECT_EQ(MulDiv(6, 1, 4), 2);  // 1.5
    EXPECT_EQ(MulDiv(-6, 1, 4), -2);
    EXPECT_EQ(MulDiv(0, 9, 4), 0);
    // The product does not overflow on the way.
    EXPECT_EQ(MulDiv(1 << 30, 6, 8), 805306368);
    EXPECT_EQ(MulDiv(-(1 << 30), 6, 8), -805306368);
    EXPECT_EQ(MulDiv(4, 5, 0), -1);
}

TEST_F(Dialogs, ControlsAreWhatTheTemplateSays) {
    ModalDialog dialog(kControlsDialog);
    EXPECT_EQ(uitest::runModal(
                  dialog,
                  [&] {
                      CString text;
                      dialog.GetWindowText(text);
                      EXPECT_EQ(text, CString(kCaption));
                      EXPECT_EQ(QString(ui::detail::widgetOf(&dialog)->windowTitle()),
                                QStringLiteral("用户权限管理"));
                      EXPECT_EQ(dialog.GetClassName(), CString("#32770"));
                      EXPECT_EQ(dialog.GetDefID(), kOkButton);

                      const ui::DialogTemplate* t = ui::FindDialog(kControlsDialog);
                      for (const ui::ControlTemplate& c : t->controls) {
                          SCOPED_TRACE(c.id);
                          CWnd* control = dialog.GetDlgItem(c.id);
                          ASSERT_NE(control, nullptr);
                          EXPECT_EQ(control->GetDlgCtrlID(), c.id);
                          EXPECT_EQ(CWnd::FromHandle(control->m_hWnd), control);
                          EXPECT_EQ(control->GetParent(), &dialog);
                          control->GetWindowText(text);
                          EXPECT_EQ(text, CString(c.text));

                          const DWORD style = control->GetStyle();
                          const DWORD kept = c.style & ~(WS_VISIBLE | WS_DISABLED);
                          EXPECT_EQ(style & kept, kept);
                          EXPECT_TRUE(style & WS_CHILD);
                          EXPECT_EQ(bool(style & WS_VISIBLE), bool(c.style & WS_VISIBLE));
                          EXPECT_EQ(bool(control->IsWindowVisible()), bool(c.style & WS_VISIBLE));
                          EXPECT_EQ(bool(style & WS_DISABLED), bool(c.style & WS_DISABLED));
                          EXPECT_EQ(bool(control->IsWindowEnabled()), !(c.style & WS_DISABLED));
                      }

                      // Unbound controls come as objects of their class.
                      EXPECT_NE(dynamic_cast<CEdit*>(dialog.GetDlgItem(kNameEdit)), nullptr);
                      EXPECT_NE(dynamic_cast<CButton*>(dialog.GetDlgItem(kSelectAll)), nullptr);
                      EXPECT_NE(dynamic_cast<CStatic*>(dialog.GetDlgItem(kNameStatic)), nullptr);
                      EXPECT_EQ(dialog.GetDlgItem(kNameEdit)->GetClassName(), CString("Edit"));
                      EXPECT_EQ(dialog.GetDlgItem(kOkButton)->GetClassName(), CString("Button"));
                      EXPECT_EQ(
                          static_cast<CButton*>(dialog.GetDlgItem(kSelectAll))->GetButtonStyle(),
                          UINT(BS_AUTOCHECKBOX));
                      auto* password = qobject_cast<QLineEdit*>(
                          ui::detail::widgetOf(dialog.GetDlgItem(kPasswordEdit)));
                      ASSERT_NE(password, nullptr);
                      EXPECT_EQ(password->echoMode(), QLineEdit::Password);

                      EXPECT_EQ(dialog.GetDlgItem(12345), nullptr);
                      EXPECT_EQ(dialog.GetDlgItem(0), nullptr);
                      dialog.EndDialog(IDOK);
                  }),
              IDOK);
}

TEST_F(Dialogs, DataExchangeBindsMembers) {
    BindingDialog dialog;
    HWND firstHandle = nullptr;
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        HWND handle = nullptr;
        EXPECT_EQ(uitest::runModal(
                      dialog,
                      [&] {
                          handle = dialog.m_editName.m_hWnd;
                          ASSERT_NE(handle, nullptr);
                          EXPECT_EQ(dialog.GetDlgItem(kNameEdit), &dialog.m_editName);
                          EXPECT_EQ(CWnd::FromHandle(handle), &dialog.m_editName);
                          EXPECT_EQ(dialog.GetDlgItem(kSelectAll), &dialog.m_checkAll);
                          // The member's own message map answers for the control.
                          EXPECT_EQ(::SendMessage(handle, kPing, 0, 0), 42);
                          CString text;
                          dialog.m_editName.GetWindowText(text);
                          EXPECT_EQ(text, CString(kZhangSan));
                          dialog.m_checkAll.SetCheck(BST_CHECKED);
                          EXPECT_EQ(
                              static_cast<CButton*>(dialog.GetDlgItem(kSelectAll))->GetCheck(),
                              BST_CHECKED);
                          dialog.EndDialog(IDOK);
                      }),
                  IDOK);
        EXPECT_EQ(dialog.m_editName.m_hWnd, nullptr);
        EXPECT_EQ(dialog.m_checkAll.m_hWnd, nullptr);
        EXPECT_EQ(CWnd::FromHandle(handle), nullptr);
        EXPECT_EQ(::SendMessage(handle, kPing, 0, 0), 0);
        if (run == 0)
            firstHandle = handle;
        else
            EXPECT_NE(handle, firstHandle);
    }
    EXPECT_EQ(dialog.m_editName.pings, 2);
}

TEST_F(Dialogs, DestroyWindowLeavesHandlesInert) {
    auto host = std::make_unique<uitest::HostWindow>();
    PingEdit edit;
    ASSERT_TRUE(
        edit.Create(WS_CHILD | WS_VISIBLE | WS_TABSTOP, CRect(5, 5, 100, 30), host.get(), 77));
    edit.SetWindowText("abc");
    ASSERT_TRUE(host->showAndWait());
    const HWND hostHandle = *host;
    const HWND editHandle = edit;
    const QPointer<QWidget> editWidget = ui::detail::widgetOf(&edit);

    EXPECT_TRUE(host->DestroyWindow());
    EXPECT_EQ(host->m_hWnd, nullptr);
    EXPECT_EQ(edit.m_hWnd, nullptr) << "a child goes with its parent";
    EXPECT_FALSE(host->DestroyWindow());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(editWidget.isNull());

    for (HWND old : {hostHandle, editHandle}) {
        EXPECT_EQ(CWnd::FromHandle(old), nullptr);
        EXPECT_EQ(::SendMessage(old, kPing, 0, 0), 0);
        EXPECT_FALSE(::PostMessage(old, kPing, 0, 0));
    }
    EXPECT_EQ(edit.pings, 0);

    // The objects answer as windows that do not exist.
    CString text("stale");
    edit.GetWindowText(text);
    EXPECT_EQ(text, CString(""));
    EXPECT_EQ(edit.GetWindowTextLength(), 0);
    EXPECT_FALSE(edit.IsWindowVisible());
    EXPECT_EQ(host->GetDlgItem(77), nullptr);
    EXPECT_EQ(edit.SendMessage(kPing), 0);
    EXPECT_EQ(edit.pings, 0);
    host.reset();
}

// Icons decoded by the framework show the pixels Qt's own reader gives:
// byte order and unpremultiplied alpha included; 16-bit ones go to Qt.
TEST(Icons, DecodedPixelsMatchQtsReader) {
    const std::pair<QImage::Format, int> formats[] = {
        {QImage::Format_ARGB32, 1}, {QImage::Format_RGBA64, 2}, {QImage::Format_RGB32, 3}};
    for (const auto& [format, id] : formats) {
        QImage source(13, 7, format);
        for (int y = 0; y < source.height(); ++y)
            for (int x = 0; x < source.width(); ++x)
                source.setPixelColor(x, y, QColor(x * 19, y * 37, 200 - x * 9, 255 - x * y * 2));
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        ASSERT_TRUE(source.save(&buffer, "PNG"));
        const int iconId = 7700 + id;
        ui::RegisterIcon({iconId, {std::vector<unsigned char>(png.begin(), png.end())}});

        const QImage want = QImage::fromData(png).convertToFormat(QImage::Format_ARGB32);
        const QIcon icon = ui::detail::qiconOf(ui::detail::loadIcon(iconId));
        ASSERT_EQ(icon.availableSizes(), QList<QSize>{QSize(13, 7)}) << id;
        const QImage got =
            icon.pixmap(QSize(13, 7)).toImage().convertToFormat(QImage::Format_ARGB32);
        // libpng rounds partly transparent pixels by at most one step
        // differently; a wrong byte order, premultiplication or gamma is far
        // more.
        int worst = 0;
        for (int y = 0; y < want.height(); ++y)
            for (int x = 0; x < want.width(); ++x) {
                const QRgb a = got.pixel(x, y), b = want.pixel(x, y);
                for (int shift : {0, 8, 16, 24})
                    worst = std::max(worst,
                                     std::abs(int((a >> shift) & 255) - int((b >> shift) & 255)));
            }
        EXPECT_LE(worst, 1) << "format " << id;
    }
}

}  // namespace
