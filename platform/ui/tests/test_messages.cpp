// Messages: sent ones nest, posted ones keep their order and never reach a
// window that is gone; message maps search the base classes; commands,
// notifications and their reflection; Default(); the close path.
#include <QWheelEvent>

#include "dispatch.h"
#include "ui_test.h"

namespace {

using uitest::CoreTest;
using uitest::HostWindow;

constexpr UINT kAsk = WM_USER + 1;
constexpr UINT kPosted = WM_USER + 2;
constexpr UINT kOne = WM_USER + 11;
constexpr UINT kTwo = WM_USER + 12;
constexpr UINT kThree = WM_USER + 13;
constexpr UINT kWithDefault = WM_USER + 21;
constexpr UINT kUnmapped = WM_USER + 22;
constexpr int kCmdShared = 3001;
constexpr int kCmdBaseOnly = 3002;
constexpr int kButtonId = 3101;
constexpr int kEditId = 3102;
constexpr int kPlainId = 3201;
constexpr int kReflectingId = 3202;
constexpr int kCloseDialog = 9100;

// Answers kAsk by asking the next window first, so sends nest.
class Relay : public HostWindow {
public:
    Relay(QString name, QStringList& log, LRESULT add)
        : m_name(std::move(name)), m_log(log), m_add(add) {}
    HWND next = nullptr;
    HWND postTo = nullptr;

protected:
    LRESULT OnAsk(WPARAM wParam, LPARAM) {
        m_log << m_name + "<";
        if (postTo) ::PostMessage(postTo, kPosted, 99, 0);
        const LRESULT inner = next ? ::SendMessage(next, kAsk, wParam, 0) : LRESULT(wParam);
        m_log << m_name + ">";
        return inner + m_add;
    }
    LRESULT OnPosted(WPARAM wParam, LPARAM lParam) {
        m_log << QStringLiteral("%1%2").arg(m_name).arg(wParam);
        if (lParam != 0) ::PostMessage(reinterpret_cast<HWND>(lParam), kPosted, wParam + 1, 0);
        return 0;
    }

private:
    QString m_name;
    QStringList& m_log;
    LRESULT m_add;
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(Relay, HostWindow)
ON_MESSAGE(kAsk, OnAsk)
ON_MESSAGE(kPosted, OnPosted)
END_MESSAGE_MAP()

// Three levels of message maps: each level adds or overrides entries.
class BaseWnd : public HostWindow {
protected:
    LRESULT OnBaseOne(WPARAM, LPARAM) {
        trace << "base one";
        return 1;
    }
    LRESULT OnBaseTwo(WPARAM, LPARAM) {
        trace << "base two";
        return 2;
    }
    void OnBaseShared() { trace << "base shared"; }
    void OnBaseOnly() { trace << "base only"; }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(BaseWnd, HostWindow)
ON_MESSAGE(kOne, OnBaseOne)
ON_MESSAGE(kTwo, OnBaseTwo)
ON_COMMAND(kCmdShared, OnBaseShared)
ON_COMMAND(kCmdBaseOnly, OnBaseOnly)
END_MESSAGE_MAP()

class DerivedWnd : public BaseWnd {
protected:
    LRESULT OnDerivedOne(WPARAM, LPARAM) {
        trace << "derived one";
        return 10;
    }
    void OnDerivedShared() { trace << "derived shared"; }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(DerivedWnd, BaseWnd)
ON_MESSAGE(kOne, OnDerivedOne)
ON_COMMAND(kCmdShared, OnDerivedShared)
END_MESSAGE_MAP()

class LeafWnd : public DerivedWnd {
protected:
    LRESULT OnLeafThree(WPARAM, LPARAM) {
        trace << "leaf three";
        return 300;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(LeafWnd, DerivedWnd)
ON_MESSAGE(kThree, OnLeafThree)
END_MESSAGE_MAP()

// Controls report to this window: commands by id and code, notifications.
class CommandHost : public HostWindow {
protected:
    void OnButton() { trace << "button"; }
    void OnEditCommand() { trace << "edit command"; }
    void OnEditChange() { trace << "edit change"; }
    void OnPlainClick(NMHDR* hdr, LRESULT* result) {
        trace << QStringLiteral("plain click %1").arg(hdr->idFrom);
        lastFrom = hdr->hwndFrom;
        *result = 3;
    }
    void OnPlainDblClk(NMHDR*, LRESULT*) { trace << "plain dblclk"; }
    void OnReflectingClick(NMHDR*, LRESULT* result) {
        trace << "parent saw reflected click";
        *result = 4;
    }
    void OnReflectingDblClk(NMHDR*, LRESULT*) { trace << "reflecting dblclk"; }

public:
    HWND lastFrom = nullptr;

private:
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CommandHost, HostWindow)
ON_BN_CLICKED(kButtonId, OnButton)
ON_COMMAND(kEditId, OnEditCommand)
ON_EN_CHANGE(kEditId, OnEditChange)
ON_NOTIFY(NM_CLICK, kPlainId, OnPlainClick)
ON_NOTIFY(NM_DBLCLK, kPlainId, OnPlainDblClk)
ON_NOTIFY(NM_CLICK, kReflectingId, OnReflectingClick)
ON_NOTIFY(NM_DBLCLK, kReflectingId, OnReflectingDblClk)
END_MESSAGE_MAP()

// Handles its own clicks; its parent must not see them.
class ReflectingStatic : public CStatic {
public:
    QStringList* log = nullptr;

protected:
    void OnReflectedClick(NMHDR* hdr, LRESULT* result) {
        *log << QStringLiteral("reflected click %1").arg(hdr->idFrom);
        *result = 7;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(ReflectingStatic, CStatic)
ON_NOTIFY_REFLECT(NM_CLICK, OnReflectedClick)
END_MESSAGE_MAP()

// Colours its statics: the brush fills the background unless it is hollow.
class ColourHost : public HostWindow {
public:
    int brush = NULL_BRUSH;

protected:
    HBRUSH OnCtlColor(CDC* pDC, CWnd*, UINT) {
        pDC->SetTextColor(RGB(255, 255, 255));
        return static_cast<HBRUSH>(GetStockObject(brush));
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(ColourHost, HostWindow)
ON_WM_CTLCOLOR()
END_MESSAGE_MAP()

// Handlers that call Default() a chosen number of times.
class DefaultWnd : public HostWindow {
public:
    int defaults = 1;
    std::function<void()> beforeDefault;

protected:
    void OnPaint() {
        trace << "paint";
        if (auto hook = std::exchange(beforeDefault, nullptr)) hook();
        for (int i = 0; i < defaults; ++i) Default();
    }
    LRESULT OnWithDefault(WPARAM, LPARAM) { return Default() + 1; }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(DefaultWnd, HostWindow)
ON_WM_PAINT()
ON_MESSAGE(kWithDefault, OnWithDefault)
END_MESSAGE_MAP()

// The close path of a plain window: system command, then WM_CLOSE.
class CloseWnd : public HostWindow {
public:
    bool passSysCommand = true;

protected:
    void OnSysCommand(UINT nID, LPARAM lParam) {
        trace << QStringLiteral("syscommand %1").arg(nID, 0, 16);
        if (passSysCommand) HostWindow::OnSysCommand(nID, lParam);
    }
    void OnClose() { trace << "close"; }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CloseWnd, HostWindow)
ON_WM_SYSCOMMAND()
ON_WM_CLOSE()
END_MESSAGE_MAP()

// A dialog that records its close path and may refuse to close.
class CloseDialog : public CDialog {
public:
    CloseDialog() : CDialog(kCloseDialog) {}
    QStringList trace;
    bool passClose = true;

protected:
    void OnSysCommand(UINT nID, LPARAM lParam) {
        trace << QStringLiteral("syscommand %1").arg(nID, 0, 16);
        CDialog::OnSysCommand(nID, lParam);
    }
    void OnClose() {
        trace << "close";
        if (passClose) CDialog::OnClose();
    }
    void OnCancel() override {
        trace << "cancel";
        CDialog::OnCancel();
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CloseDialog, CDialog)
ON_WM_SYSCOMMAND()
ON_WM_CLOSE()
END_MESSAGE_MAP()

void registerCloseDialog() {
    ui::RegisterDialog({kCloseDialog,
                        "Close",
                        120,
                        60,
                        "MS Shell Dlg",
                        9,
                        WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
                        {{ui::ControlKind::Button, "OK", IDOK, 10, 40, 40, 14,
                          WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON},
                         {ui::ControlKind::Button, "Cancel", IDCANCEL, 60, 40, 40, 14,
                          WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON}}});
}

// Processes events until `log` holds `count` entries, then a little more so
// that anything delivered twice or late shows up too.
void settle(const QStringList& log, int count) {
    (void)QTest::qWaitFor([&] { return log.size() >= count; }, 2000);
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

using Messages = CoreTest;

TEST_F(Messages, SendMessageNestsAndReturnsTheHandlersResult) {
    QStringList log;
    Relay a("a", log, 100), b("b", log, 10), c("c", log, 1);
    a.next = b;
    b.next = c;
    b.postTo = c;  // posted inside a send: must wait for the event loop

    EXPECT_EQ(a.SendMessage(kAsk, 5), 116);
    EXPECT_EQ(log, QStringList({"a<", "b<", "c<", "c>", "b>", "a>"}));

    // By handle the same; a null handle reaches nobody.
    log.clear();
    EXPECT_EQ(::SendMessage(b, kAsk, 5), 16);
    EXPECT_EQ(log, QStringList({"b<", "c<", "c>", "b>"}));
    EXPECT_EQ(::SendMessage(nullptr, kAsk, 5), 0);

    settle(log, 6);
    EXPECT_EQ(log, QStringList({"b<", "c<", "c>", "b>", "c99", "c99"}));

    // A message without a handler answers 0.
    EXPECT_EQ(a.SendMessage(kUnmapped, 5), 0);
}

TEST_F(Messages, PostMessageKeepsOneOrderAcrossWindows) {
    QStringList log;
    Relay a("a", log, 0), b("b", log, 0), c("c", log, 0);

    EXPECT_TRUE(a.PostMessage(kPosted, 1));
    EXPECT_TRUE(::PostMessage(b, kPosted, 2, 0));
    // Its handler posts c3 behind everything already queued.
    EXPECT_TRUE(a.PostMessage(kPosted, 2, LPARAM(HWND(c))));
    EXPECT_TRUE(c.PostMessage(kPosted, 1));
    EXPECT_TRUE(b.PostMessage(kPosted, 3));
    EXPECT_TRUE(log.isEmpty()) << "posting must not deliver";

    settle(log, 6);
    EXPECT_EQ(log, QStringList({"a1", "b2", "a2", "c1", "b3", "c3"}));
}

TEST_F(Messages, PostedMessageNeverReachesAWindowThatIsGone) {
    QStringList log;
    Relay a("a", log, 0);
    auto b = std::make_unique<Relay>("b", log, 0);
    const HWND oldB = *b;

    EXPECT_TRUE(b->PostMessage(kPosted, 1));
    EXPECT_TRUE(a.PostMessage(kPosted, 2));
    b.reset();
    // A new window may take the old object's place, never its handle.
    auto d = std::make_unique<Relay>("d", log, 0);
    EXPECT_NE(HWND(*d), oldB);

    settle(log, 1);
    EXPECT_EQ(log, QStringList({"a2"}));

    EXPECT_FALSE(::PostMessage(oldB, kPosted, 3, 0));
    EXPECT_FALSE(::PostMessage(nullptr, kPosted, 3, 0));
    EXPECT_EQ(::SendMessage(oldB, kPosted, 3, 0), 0);
    settle(log, 1);
    EXPECT_EQ(log, QStringList({"a2"}));
}

TEST_F(Messages, MessageMapSearchesBaseClassesDerivedFirst) {
    LeafWnd leaf;
    EXPECT_EQ(leaf.SendMessage(kOne), 10);
    EXPECT_EQ(leaf.SendMessage(kTwo), 2);
    EXPECT_EQ(leaf.SendMessage(kThree), 300);
    leaf.SendMessage(WM_COMMAND, MAKEWPARAM(kCmdShared, 0));
    leaf.SendMessage(WM_COMMAND, MAKEWPARAM(kCmdBaseOnly, 0));
    EXPECT_EQ(leaf.trace, QStringList({"derived one", "base two", "leaf three", "derived shared",
                                       "base only"}));

    // The base class alone keeps its own entries.
    BaseWnd base;
    EXPECT_EQ(base.SendMessage(kOne), 1);
    EXPECT_EQ(base.SendMessage(kThree), 0);
    base.SendMessage(WM_COMMAND, MAKEWPARAM(kCmdShared, 0));
    EXPECT_EQ(base.trace, QStringList({"base one", "base shared"}));
}

TEST_F(Messages, ControlsReportCommandsByIdAndCode) {
    CommandHost host;
    CButton button;
    CEdit edit;
    ASSERT_TRUE(button.Create("Go", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON,
                              CRect(10, 10, 90, 40), &host, kButtonId));
    ASSERT_TRUE(edit.Create(WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_BORDER, CRect(10, 50, 200, 74),
                            &host, kEditId));
    ASSERT_TRUE(host.showAndWait());

    QWidget* buttonWidget = ui::detail::widgetOf(&button);
    QTest::mouseClick(host.window(), Qt::LeftButton, {},
                      buttonWidget->mapTo(host.widget(), buttonWidget->rect().center()));
    EXPECT_EQ(host.trace, QStringList({"button"}));

    // Typing is EN_CHANGE, which the edit's plain command entry must not take.
    host.trace.clear();
    QTest::keyClicks(ui::detail::widgetOf(&edit), "ab");
    EXPECT_EQ(host.trace, QStringList({"edit change", "edit change"}));

    // A menu-style command (code 0) from the same id is the command entry.
    host.trace.clear();
    host.SendMessage(WM_COMMAND, MAKEWPARAM(kEditId, 0));
    host.SendMessage(WM_COMMAND, MAKEWPARAM(kEditId, EN_SETFOCUS));
    EXPECT_EQ(host.trace, QStringList({"edit command"}));
}

TEST_F(Messages, NotificationsReachTheParentUnlessReflected) {
    CommandHost host;
    CStatic plain;
    ReflectingStatic reflecting;
    reflecting.log = &host.trace;
    ASSERT_TRUE(plain.Create("p", WS_CHILD | WS_VISIBLE, CRect(0, 0, 50, 20), &host, kPlainId));
    ASSERT_TRUE(
        reflecting.Create("r", WS_CHILD | WS_VISIBLE, CRect(0, 30, 50, 50), &host, kReflectingId));

    NMHDR hdr{};
    EXPECT_EQ(ui::detail::notifyParent(&plain, &hdr, NM_CLICK), 3);
    EXPECT_EQ(host.lastFrom, plain.GetSafeHwnd());
    EXPECT_EQ(ui::detail::notifyParent(&plain, &hdr, NM_DBLCLK), 0);
    // No entry for this code and id: nothing runs.
    EXPECT_EQ(ui::detail::notifyParent(&plain, &hdr, NM_RCLICK), 0);
    EXPECT_EQ(host.trace,
              QStringList({QStringLiteral("plain click %1").arg(kPlainId), "plain dblclk"}));

    // The control's own handler keeps the click, and its result comes back;
    // a code it does not reflect still goes to the parent.
    host.trace.clear();
    EXPECT_EQ(ui::detail::notifyParent(&reflecting, &hdr, NM_CLICK), 7);
    EXPECT_EQ(ui::detail::notifyParent(&reflecting, &hdr, NM_DBLCLK), 0);
    EXPECT_EQ(host.trace, QStringList({QStringLiteral("reflected click %1").arg(kReflectingId),
                                       "reflecting dblclk"}));
}

TEST_F(Messages, DefaultRunsTheFallbackOnce) {
    DefaultWnd wnd;
    int runs = 0;
    auto fallback = [&runs] {
        ++runs;
        return LRESULT(5);
    };

    wnd.defaults = 2;
    ui::detail::dispatch(&wnd, WM_PAINT, 0, 0, fallback);
    EXPECT_EQ(runs, 1);

    runs = 0;
    wnd.defaults = 0;
    ui::detail::dispatch(&wnd, WM_PAINT, 0, 0, fallback);
    EXPECT_EQ(runs, 0) << "a handler that does not call Default() replaces the default";

    // Without a handler the default runs by itself; with one, Default()
    // returns what the default returned.
    runs = 0;
    EXPECT_EQ(ui::detail::dispatch(&wnd, kUnmapped, 0, 0, fallback), 5);
    EXPECT_EQ(ui::detail::dispatch(&wnd, kWithDefault, 0, 0, fallback), 6);
    EXPECT_EQ(runs, 2);

    // A nested dispatch of the same message has its own default; the outer
    // one is still there afterwards.
    int innerRuns = 0;
    runs = 0;
    wnd.defaults = 1;
    wnd.beforeDefault = [&] {
        ui::detail::dispatch(&wnd, WM_PAINT, 0, 0, [&innerRuns] {
            ++innerRuns;
            return LRESULT(0);
        });
    };
    ui::detail::dispatch(&wnd, WM_PAINT, 0, 0, fallback);
    EXPECT_EQ(innerRuns, 1);
    EXPECT_EQ(runs, 1);

    // Outside any dispatch there is nothing to run.
    EXPECT_EQ(wnd.Default(), 0);
}

TEST_F(Messages, SystemCloseBecomesCloseByDefault) {
    CloseWnd wnd;
    wnd.SendMessage(WM_SYSCOMMAND, SC_CLOSE);
    // The low four bits belong to the system and do not change the command.
    wnd.SendMessage(WM_SYSCOMMAND, SC_CLOSE | 0x2);
    EXPECT_EQ(wnd.trace, QStringList({"syscommand f060", "close", "syscommand f062", "close"}));

    wnd.trace.clear();
    wnd.passSysCommand = false;
    wnd.SendMessage(WM_SYSCOMMAND, SC_CLOSE);
    EXPECT_EQ(wnd.trace, QStringList({"syscommand f060"}));
}

TEST_F(Messages, DialogCloseBoxIsCancel) {
    registerCloseDialog();
    CloseDialog dialog;
    const INT_PTR result =
        uitest::runModal(dialog, [&] { ui::detail::widgetOf(&dialog)->close(); });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(dialog.trace, QStringList({"syscommand f060", "close", "cancel"}));

    // A WM_CLOSE handler that does not pass it on keeps the dialog open.
    CloseDialog stubborn;
    stubborn.passClose = false;
    const INT_PTR kept = uitest::runModal(stubborn, [&] {
        ui::detail::widgetOf(&stubborn)->close();
        stubborn.SendMessage(WM_CLOSE);
        QCoreApplication::processEvents();
        EXPECT_TRUE(ui::detail::widgetOf(&stubborn)->isVisible());
        stubborn.EndDialog(IDOK);
    });
    EXPECT_EQ(kept, IDOK);
    EXPECT_EQ(stubborn.trace, QStringList({"syscommand f060", "close", "close"}));
}

// Run-time class information names each class and links it to its base.
class ProbeEdit : public CEdit {
    DECLARE_DYNAMIC(ProbeEdit)
};
IMPLEMENT_DYNAMIC(ProbeEdit, CEdit)

TEST_F(Messages, RuntimeClassNamesTheClassAndItsBases) {
    ProbeEdit edit;
    const CWnd& asWnd = edit;
    EXPECT_STREQ(asWnd.GetRuntimeClass()->m_lpszClassName, "ProbeEdit");
    EXPECT_STREQ(asWnd.GetRuntimeClass()->m_pBaseClass->m_lpszClassName, "CEdit");
    for (const CRuntimeClass* base : {RUNTIME_CLASS(ProbeEdit), RUNTIME_CLASS(CEdit),
                                      RUNTIME_CLASS(CWnd), RUNTIME_CLASS(CCmdTarget)})
        EXPECT_TRUE(asWnd.IsKindOf(base)) << base->m_lpszClassName;
    EXPECT_FALSE(asWnd.IsKindOf(RUNTIME_CLASS(CComboBox)));
    EXPECT_FALSE(asWnd.IsKindOf(RUNTIME_CLASS(CDialog)));
    CDialogEx dialog(kCloseDialog);
    EXPECT_TRUE(dialog.IsKindOf(RUNTIME_CLASS(CDialog)));
    EXPECT_FALSE(CWnd().IsKindOf(RUNTIME_CLASS(CDialog)));
}

// Records the wheel messages that pass PreTranslateMessage, by target.
class WheelHost : public HostWindow {
public:
    BOOL PreTranslateMessage(MSG* pMsg) override {
        if (pMsg->message == WM_MOUSEWHEEL)
            trace << QStringLiteral("wheel %1 %2")
                         .arg(ui::detail::wndOf(pMsg->hwnd) == this
                                  ? 0
                                  : CWnd::FromHandle(pMsg->hwnd)->GetDlgCtrlID())
                         .arg(short(HIWORD(pMsg->wParam)));
        return FALSE;
    }
};

TEST_F(Messages, WheelIsTheFocusWindowsMessageWhereverThePointerIs) {
    WheelHost host;
    CEdit focused;
    CStatic pointed;
    // No tab stop: the activation does not give it the focus.
    ASSERT_TRUE(
        focused.Create(WS_CHILD | WS_VISIBLE | WS_BORDER, CRect(10, 10, 150, 35), &host, kEditId));
    ASSERT_TRUE(pointed.Create("wheel here", WS_CHILD | WS_VISIBLE, CRect(10, 60, 150, 90), &host,
                               kPlainId));
    ASSERT_TRUE(host.showAndWait());
    ASSERT_TRUE(QTest::qWaitForWindowActive(host.widget()));
    auto turn = [](CWnd& over) {
        QWidget* w = ui::detail::widgetOf(&over);
        const QPoint at = w->rect().center();
        QWheelEvent ev(QPointF(at), QPointF(w->mapToGlobal(at)), QPoint(), QPoint(0, -120),
                       Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(w, &ev);
    };
    // No focus yet: the window under the pointer.
    ASSERT_EQ(CWnd::GetFocus(), nullptr);
    turn(pointed);
    focused.SetFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return CWnd::GetFocus() == &focused; }));
    turn(pointed);
    EXPECT_EQ(host.trace, QStringList({QStringLiteral("wheel %1 -120").arg(kPlainId),
                                       QStringLiteral("wheel %1 -120").arg(kEditId)}));
}

TEST_F(Messages, CtlColorBrushPaintsTheStaticBackground) {
    ColourHost host;
    CStatic label;
    ASSERT_TRUE(label.Create("", WS_CHILD | WS_VISIBLE, CRect(0, 0, 40, 20), &host, 9501));
    ASSERT_TRUE(host.showAndWait());
    const struct {
        int brush;
        QColor corner;
    } cases[] = {
        {BLACK_BRUSH, Qt::black},
        {WHITE_BRUSH, Qt::white},
    };
    for (const auto& c : cases) {
        host.brush = c.brush;
        EXPECT_EQ(ui::detail::widgetOf(&label)->grab().toImage().pixelColor(1, 1), c.corner);
    }
    // The hollow brush leaves the parent's background showing.
    host.brush = NULL_BRUSH;
    const QColor parentBackground = host.widget()->grab().toImage().pixelColor(1, 1);
    EXPECT_EQ(ui::detail::widgetOf(&label)->grab().toImage().pixelColor(1, 1), parentBackground);
}

}  // namespace
