// The dialog keyboard with real key events sent through the dialog's window:
// PreTranslateMessage from the control up to the dialog, consumption, Enter,
// Escape, Tab order, F1 and Alt with a mnemonic; and the labels that name
// the fields for screen readers.
#include <QAccessible>
#include <QLineEdit>

#include "ui_test.h"

namespace {

using uitest::CoreTest;
using uitest::focusId;

constexpr int kKeysDialog = 9200;
constexpr int kEditA = 9201;
constexpr int kEditDisabled = 9202;
constexpr int kEditHidden = 9203;
constexpr int kEditNoTabStop = 9204;
constexpr int kButtonX = 9205;
constexpr int kApply = 9206;
constexpr int kBox = 9207;
constexpr int kInner = 9208;

QString keyName(const MSG* msg) {
    const auto vk = UINT(msg->wParam);
    return (vk >= 'A' && vk <= 'Z') ? QString(QChar(char16_t(vk))) : QString::number(vk);
}

// Records each key it sees and consumes the one it is told to.
template <class Base>
class Tracing : public Base {
public:
    QString name;
    QStringList* log = nullptr;
    UINT consume = 0;

    BOOL PreTranslateMessage(MSG* pMsg) override {
        if (pMsg->message != WM_KEYDOWN) return FALSE;
        *log << name + ":" + keyName(pMsg);
        return pMsg->wParam == consume ? TRUE : FALSE;
    }
};

class KeysDialog : public CDialog {
public:
    KeysDialog() : CDialog(kKeysDialog) {
        m_editA.name = "editA";
        m_box.name = "box";
        m_inner.name = "inner";
        for (auto* log : {&m_editA.log, &m_box.log, &m_inner.log}) *log = &trace;
    }

    QStringList trace;     // keys seen by PreTranslateMessage
    QStringList commands;  // what the keys made happen
    Tracing<CEdit> m_editA;
    Tracing<CStatic> m_box;
    Tracing<CEdit> m_inner;  // a child of m_box: three levels up to the dialog

    BOOL PreTranslateMessage(MSG* pMsg) override {
        if (pMsg->message == WM_KEYDOWN) trace << "dlg:" + keyName(pMsg);
        return CDialog::PreTranslateMessage(pMsg);
    }

protected:
    void DoDataExchange(CDataExchange* pDX) override { DDX_Control(pDX, kEditA, m_editA); }
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        m_box.Create("", WS_CHILD | WS_VISIBLE, CRect(200, 150, 300, 190), this, kBox);
        m_inner.Create(WS_CHILD | WS_VISIBLE | WS_BORDER, CRect(5, 5, 95, 30), &m_box, kInner);
        return TRUE;
    }
    // Recorded instead of ending the dialog, so one run can try many keys.
    void OnOK() override { commands << "ok"; }
    void OnCancel() override { commands << "cancel"; }
    void OnButtonX() { commands << "x"; }
    void OnApply() { commands << "apply"; }
    BOOL OnHelpInfo(HELPINFO* info) {
        commands << QStringLiteral("help %1").arg(info->iCtrlId);
        return TRUE;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(KeysDialog, CDialog)
ON_BN_CLICKED(kButtonX, OnButtonX)
ON_BN_CLICKED(kApply, OnApply)
ON_WM_HELPINFO()
END_MESSAGE_MAP()

void registerKeysDialog() {
    using ui::ControlKind;
    const DWORD visibleTab = WS_VISIBLE | WS_TABSTOP;
    // The default button is not IDOK, so Enter cannot pass by accident.
    ui::RegisterDialog(
        {kKeysDialog,
         "Keys",
         220,
         140,
         "MS Shell Dlg",
         9,
         WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
         {{ControlKind::Static, "Name:", IDC_STATIC, 5, 5, 40, 10, WS_VISIBLE},
          {ControlKind::Edit, "", kEditA, 50, 5, 80, 14, visibleTab | WS_BORDER},
          {ControlKind::Edit, "", kEditDisabled, 50, 22, 80, 14,
           visibleTab | WS_BORDER | WS_DISABLED},
          {ControlKind::Edit, "", kEditHidden, 50, 39, 80, 14, WS_TABSTOP | WS_BORDER},
          {ControlKind::Edit, "", kEditNoTabStop, 50, 56, 80, 14, WS_VISIBLE | WS_BORDER},
          {ControlKind::Button, "&X", kButtonX, 5, 120, 40, 14, visibleTab | BS_PUSHBUTTON},
          {ControlKind::Button, "&Apply", kApply, 50, 120, 40, 14, visibleTab | BS_DEFPUSHBUTTON},
          {ControlKind::Button, "OK", IDOK, 95, 120, 40, 14, visibleTab | BS_PUSHBUTTON},
          {ControlKind::Button, "Cancel", IDCANCEL, 140, 120, 40, 14, visibleTab | BS_PUSHBUTTON},
          // Listed after its field, drawn on the field's line to its left.
          {ControlKind::Static, "&Later:", IDC_STATIC, 5, 58, 40, 10, WS_VISIBLE}}});
}

QLineEdit* lineEdit(const CWnd* wnd) {
    return qobject_cast<QLineEdit*>(ui::detail::widgetOf(wnd));
}

class Keyboard : public CoreTest {
protected:
    void SetUp() override {
        CoreTest::SetUp();
        registerKeysDialog();
    }

    // Runs the dialog with `body` and checks it ended as the body left it.
    void run(const std::function<void(KeysDialog&, QWindow*)>& body) {
        KeysDialog dialog;
        const INT_PTR result = uitest::runModal(dialog, [&] {
            body(dialog, uitest::windowOf(dialog));
            dialog.EndDialog(IDABORT);
        });
        EXPECT_EQ(result, IDABORT);
    }

    static void focus(KeysDialog& dialog, int id) {
        // The inner edit is its box's child, not the dialog's.
        CWnd* control = id == kInner ? &dialog.m_inner : dialog.GetDlgItem(id);
        ASSERT_NE(control, nullptr);
        control->SetFocus();
        ASSERT_TRUE(QTest::qWaitFor([id] { return focusId() == id; }, 2000));
    }
};

TEST_F(Keyboard, PreTranslateWalksFromTheControlUpToTheDialog) {
    run([](KeysDialog& dialog, QWindow* window) {
        ASSERT_NO_FATAL_FAILURE(focus(dialog, kInner));
        QTest::keyClick(window, Qt::Key_A);
        EXPECT_EQ(dialog.trace, QStringList({"inner:A", "box:A", "dlg:A"}));
        EXPECT_EQ(lineEdit(&dialog.m_inner)->text(), QStringLiteral("a"));

        ASSERT_NO_FATAL_FAILURE(focus(dialog, kEditA));
        dialog.trace.clear();
        QTest::keyClick(window, Qt::Key_B);
        EXPECT_EQ(dialog.trace, QStringList({"editA:B", "dlg:B"}));
        EXPECT_EQ(lineEdit(&dialog.m_editA)->text(), QStringLiteral("b"));
    });
}

TEST_F(Keyboard, TrueConsumesTheKey) {
    run([](KeysDialog& dialog, QWindow* window) {
        dialog.m_inner.consume = 'Q';
        dialog.m_box.consume = 'Z';
        ASSERT_NO_FATAL_FAILURE(focus(dialog, kInner));

        QTest::keyClick(window, Qt::Key_Q);
        EXPECT_EQ(dialog.trace, QStringList({"inner:Q"}));
        dialog.trace.clear();
        QTest::keyClick(window, Qt::Key_Z);
        EXPECT_EQ(dialog.trace, QStringList({"inner:Z", "box:Z"}));
        EXPECT_EQ(lineEdit(&dialog.m_inner)->text(), QString());

        // A consumed Tab moves nothing; a consumed Enter commands nothing.
        dialog.m_inner.consume = VK_TAB;
        QTest::keyClick(window, Qt::Key_Tab);
        EXPECT_EQ(focusId(), kInner);
        dialog.m_inner.consume = VK_RETURN;
        QTest::keyClick(window, Qt::Key_Return);
        EXPECT_TRUE(dialog.commands.isEmpty());
    });
}

TEST_F(Keyboard, EnterGivesTheDefaultButtonsCommandOnlyWhenEnabled) {
    run([](KeysDialog& dialog, QWindow* window) {
        ASSERT_NO_FATAL_FAILURE(focus(dialog, kEditA));
        QTest::keyClick(window, Qt::Key_Return);
        QTest::keyClick(window, Qt::Key_Enter);  // the keypad's Enter too
        EXPECT_EQ(dialog.commands, QStringList({"apply", "apply"}));

        // A disabled default button makes Enter do nothing, not IDOK.
        dialog.commands.clear();
        dialog.GetDlgItem(kApply)->EnableWindow(FALSE);
        QTest::keyClick(window, Qt::Key_Return);
        EXPECT_TRUE(dialog.commands.isEmpty()) << dialog.commands.join(',').toStdString();
        dialog.GetDlgItem(kApply)->EnableWindow(TRUE);

        // On a focused push button, Enter is that button's command.
        for (int id : {kButtonX, IDOK, IDCANCEL}) {
            ASSERT_NO_FATAL_FAILURE(focus(dialog, id));
            QTest::keyClick(window, Qt::Key_Return);
        }
        EXPECT_EQ(dialog.commands, QStringList({"x", "ok", "cancel"}));
    });
}

TEST_F(Keyboard, EscapeIsCancelFromAnywhere) {
    run([](KeysDialog& dialog, QWindow* window) {
        for (int id : {kEditA, kButtonX, kApply, kInner}) {
            ASSERT_NO_FATAL_FAILURE(focus(dialog, id));
            QTest::keyClick(window, Qt::Key_Escape);
        }
        EXPECT_EQ(dialog.commands, QStringList({"cancel", "cancel", "cancel", "cancel"}));
    });
}

TEST_F(Keyboard, TabFollowsTemplateOrderSkippingWhatCannotTakeIt) {
    run([](KeysDialog& dialog, QWindow* window) {
        ASSERT_NO_FATAL_FAILURE(focus(dialog, kEditA));
        QList<int> forward, backward;
        for (int i = 0; i < 5; ++i) {
            QTest::keyClick(window, Qt::Key_Tab);
            forward << focusId();
        }
        for (int i = 0; i < 5; ++i) {
            QTest::keyClick(window, Qt::Key_Tab, Qt::ShiftModifier);
            backward << focusId();
        }
        EXPECT_EQ(forward, QList<int>({kButtonX, kApply, IDOK, IDCANCEL, kEditA}));
        EXPECT_EQ(backward, QList<int>({IDCANCEL, IDOK, kApply, kButtonX, kEditA}));

        // Shift+Tab as X11 delivers it: Backtab with Shift held.
        QTest::keyClick(window, Qt::Key_Backtab, Qt::ShiftModifier);
        EXPECT_EQ(focusId(), IDCANCEL);

        // What is skipped depends on the control's state now, not on the template.
        dialog.GetDlgItem(kEditDisabled)->EnableWindow(TRUE);
        dialog.GetDlgItem(kEditHidden)->ShowWindow(SW_SHOW);
        ASSERT_NO_FATAL_FAILURE(focus(dialog, kEditA));
        QTest::keyClick(window, Qt::Key_Tab);
        EXPECT_EQ(focusId(), kEditDisabled);
        QTest::keyClick(window, Qt::Key_Tab);
        EXPECT_EQ(focusId(), kEditHidden);
        QTest::keyClick(window, Qt::Key_Tab);
        EXPECT_EQ(focusId(), kButtonX) << "a control without WS_TABSTOP took the focus";
    });
}

TEST_F(Keyboard, TabIntoAnEditSelectsItsText) {
    run([](KeysDialog& dialog, QWindow* window) {
        dialog.m_editA.SetWindowText("abc");
        ASSERT_NO_FATAL_FAILURE(focus(dialog, IDCANCEL));
        QTest::keyClick(window, Qt::Key_Tab);
        ASSERT_EQ(focusId(), kEditA);
        EXPECT_EQ(lineEdit(&dialog.m_editA)->selectedText(), QStringLiteral("abc"));
        // Typing replaces the selection: the usual way to correct a field.
        QTest::keyClick(window, Qt::Key_D);
        EXPECT_EQ(lineEdit(&dialog.m_editA)->text(), QStringLiteral("d"));
    });
}

TEST_F(Keyboard, F1SendsHelpNamingTheFocusedControl) {
    run([](KeysDialog& dialog, QWindow* window) {
        ASSERT_NO_FATAL_FAILURE(focus(dialog, kEditA));
        QTest::keyClick(window, Qt::Key_F1);
        ASSERT_NO_FATAL_FAILURE(focus(dialog, kButtonX));
        QTest::keyClick(window, Qt::Key_F1);
        EXPECT_EQ(dialog.commands, QStringList({QStringLiteral("help %1").arg(kEditA),
                                                QStringLiteral("help %1").arg(kButtonX)}));
        EXPECT_EQ(dialog.trace, QStringList({"editA:112", "dlg:112", "dlg:112"}));
    });
}

TEST_F(Keyboard, AltWithAMnemonicClicksItsButton) {
    run([](KeysDialog& dialog, QWindow* window) {
        ASSERT_NO_FATAL_FAILURE(focus(dialog, kEditA));
        QTest::keyClick(window, Qt::Key_A, Qt::AltModifier);
        // A mnemonic clicks the way a mouse does, a moment later.
        EXPECT_TRUE(QTest::qWaitFor([&] { return !dialog.commands.isEmpty(); }, 2000));
        QTest::keyClick(window, Qt::Key_X, Qt::AltModifier);
        EXPECT_TRUE(QTest::qWaitFor([&] { return dialog.commands.size() == 2; }, 2000));
        EXPECT_EQ(dialog.commands, QStringList({"apply", "x"}));
        EXPECT_EQ(lineEdit(&dialog.m_editA)->text(), QString()) << "the key was typed";
    });
}

TEST_F(Keyboard, FieldsAreNamedByTheirLabels) {
    run([](KeysDialog& dialog, QWindow*) {
        const auto name = [&](int id) {
            QAccessibleInterface* a =
                QAccessible::queryAccessibleInterface(ui::detail::widgetOf(dialog.GetDlgItem(id)));
            return a ? a->text(QAccessible::Name) : QStringLiteral("(none)");
        };
        // Right before in tab order; after it but on its line to the left;
        // none (the label above is on another line).
        EXPECT_EQ(name(kEditA), QStringLiteral("Name:"));
        EXPECT_EQ(name(kEditNoTabStop), QStringLiteral("Later:"));
        EXPECT_EQ(name(kEditDisabled), QString());
        QAccessibleInterface* dlg =
            QAccessible::queryAccessibleInterface(ui::detail::widgetOf(&dialog));
        ASSERT_NE(dlg, nullptr);
        EXPECT_EQ(dlg->role(), QAccessible::Dialog);
        EXPECT_EQ(dlg->text(QAccessible::Name), QStringLiteral("Keys"));
    });
}

}  // namespace
