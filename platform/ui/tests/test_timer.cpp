// Timers and idle time: WM_TIMER by id until killed, the time of the last
// real input, the clock a test may speed up, and the end of every modal
// window above a window whose program locks itself.
#include "ui_test.h"

namespace {

using ui::test::waitFor;
using uitest::CoreTest;
using uitest::HostWindow;

constexpr UINT kOpenNested = WM_USER + 41;
constexpr int kOuterDialog = 9400;
constexpr int kInnerDialog = 9401;

class TimedWindow : public HostWindow {
public:
    std::vector<UINT_PTR> fired;

protected:
    void OnTimer(UINT_PTR nIDEvent) { fired.push_back(nIDEvent); }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(TimedWindow, HostWindow)
ON_WM_TIMER()
END_MESSAGE_MAP()

long count(const std::vector<UINT_PTR>& fired, UINT_PTR id) {
    return std::count(fired.begin(), fired.end(), id);
}

class TimerTest : public CoreTest {
protected:
    void TearDown() override {
        ui::SetClockRate(1);
        CoreTest::TearDown();
    }
};

TEST_F(TimerTest, TimersDeliverTheirIdUntilKilledOrTheWindowGoes) {
    auto* w = new TimedWindow;
    EXPECT_EQ(w->SetTimer(7, 10, nullptr), 7u);
    EXPECT_EQ(w->SetTimer(8, 60, nullptr), 8u);
    EXPECT_EQ(w->SetTimer(9, 10, [](HWND, UINT, UINT_PTR, DWORD) {}), 0u) << "WM_TIMER only";
    ASSERT_TRUE(waitFor([&] { return count(w->fired, 8) >= 2; }));
    EXPECT_GT(count(w->fired, 7), 2 * count(w->fired, 8)) << "each at its own interval";
    EXPECT_TRUE(w->KillTimer(7));
    EXPECT_FALSE(w->KillTimer(7));
    const long sevens = count(w->fired, 7);
    QTest::qWait(80);
    EXPECT_EQ(count(w->fired, 7), sevens);
    EXPECT_GT(count(w->fired, 8), 2);
    w->DestroyWindow();
    delete w;
    QTest::qWait(80);  // a timer of a window gone fires nothing
}

TEST_F(TimerTest, TheLastInputIsTheLastRealKeyOrClick) {
    HostWindow host;
    ASSERT_TRUE(host.showAndWait());
    QTest::qWait(20);
    LASTINPUTINFO before{sizeof(LASTINPUTINFO), 0};
    ASSERT_TRUE(GetLastInputInfo(&before));
    QTest::qWait(30);
    LASTINPUTINFO idle{sizeof(LASTINPUTINFO), 0};
    ASSERT_TRUE(GetLastInputInfo(&idle));
    EXPECT_EQ(idle.dwTime, before.dwTime) << "nothing happened";
    EXPECT_GE(GetTickCount() - idle.dwTime, 30u);

    QTest::keyClick(host.window(), Qt::Key_A);
    LASTINPUTINFO key{sizeof(LASTINPUTINFO), 0};
    ASSERT_TRUE(GetLastInputInfo(&key));
    EXPECT_GE(key.dwTime, before.dwTime + 30);
    EXPECT_LE(GetTickCount() - key.dwTime, 200u);

    QTest::qWait(30);
    QTest::mouseClick(host.window(), Qt::LeftButton, {}, QPoint(10, 10));
    LASTINPUTINFO click{sizeof(LASTINPUTINFO), 0};
    ASSERT_TRUE(GetLastInputInfo(&click));
    EXPECT_GE(click.dwTime, key.dwTime + 30);
    EXPECT_FALSE(GetLastInputInfo(nullptr));
}

TEST_F(TimerTest, AFasterClockRunsTheTickCountAndNewTimersAlike) {
    ui::SetClockRate(100);
    const DWORD start = GetTickCount();
    auto* w = new TimedWindow;
    w->SetTimer(1, 1000, nullptr);  // 10 ms of real time
    QTest::qWait(100);
    const DWORD elapsed = GetTickCount() - start;
    EXPECT_GE(elapsed, 10000u);
    EXPECT_LT(elapsed, 60000u);
    EXPECT_GE(count(w->fired, 1), 4);
    ui::SetClockRate(1);
    const DWORD now = GetTickCount();
    EXPECT_GE(now, start + elapsed) << "the clock never goes back";
    w->DestroyWindow();
    delete w;
}

// Opens, one after another, a question, a dialog and a pop-up menu above
// itself; a timer ends whatever is open above it.
class OuterDialog : public CDialog {
public:
    OuterDialog() : CDialog(kOuterDialog) {}
    int answer = -1;
    INT_PTR inner = -1;
    BOOL menu = -1;
    int ended = 0;

protected:
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        SetTimer(1, 30, nullptr);
        PostMessage(kOpenNested);
        return TRUE;
    }
    LRESULT OnOpenNested(WPARAM, LPARAM) {
        answer = MessageBox("?", "q", MB_YESNO | MB_ICONINFORMATION);
        CDialog dialog(kInnerDialog, this);
        inner = dialog.DoModal();
        CMenu popup;
        popup.CreatePopupMenu();
        popup.AppendMenu(MF_STRING, 5, "x");
        menu = popup.TrackPopupMenu(TPM_RETURNCMD, 0, 0, this);
        EndDialog(IDOK);
        return 0;
    }
    void OnTimer(UINT_PTR) { ended += AfxEndModalWindows(this) ? 1 : 0; }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(OuterDialog, CDialog)
ON_MESSAGE(kOpenNested, OnOpenNested)
ON_WM_TIMER()
END_MESSAGE_MAP()

TEST_F(TimerTest, EveryModalWindowAboveAWindowEndsAsItsCancelWouldButThatWindow) {
    const ui::ControlKind button = ui::ControlKind::Button;
    for (const int id : {kOuterDialog, kInnerDialog})
        ui::RegisterDialog(
            {id,
             "Modal",
             100,
             50,
             "MS Shell Dlg",
             9,
             WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
             {{button, "OK", IDOK, 10, 30, 40, 14, WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON}}});
    OuterDialog outer;
    EXPECT_EQ(outer.DoModal(), IDOK) << "the window itself stays until it ends";
    EXPECT_EQ(outer.answer, IDNO) << "a question is answered no";
    EXPECT_EQ(outer.inner, IDCANCEL);
    EXPECT_EQ(outer.menu, 0) << "nothing chosen";
    EXPECT_EQ(outer.ended, 3);
    EXPECT_FALSE(AfxEndModalWindows(nullptr));
}

}  // namespace
