#include "program_test.h"

#include <QApplication>
#include <QTimer>

#include "res/resource.h"
#include "ui/testing_qt.h"

// The application object the dialogs find as their owner's keeper.
static CWinApp g_testApp;

namespace progtest {

INT_PTR runMainDialog(CrolvaneDlg& dlg, const MainRun& run) {
    Watchdog watchdog(run.timeoutMs);
    bool loginEnded = false;
    auto previousEnd = ui::SetModalEndHook([&](ui::ModalKind kind, CWnd* wnd) {
        if (kind == ui::ModalKind::Dialog && dynamic_cast<CLoginDlg*>(wnd)) loginEnded = true;
    });
    // Runs the body once the login has ended (the hand-over after it runs
    // before any event) and nothing is modal above the main dialog. It lives
    // no longer than this call: a dialog that ends before the body runs must
    // not leave it polling a dialog that is gone.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!dlg.m_hWnd || !dlg.IsWindowVisible()) {  // ended
            poll.stop();
            return;
        }
        if (!loginEnded || QApplication::activeModalWidget() != widget(&dlg)) return;
        poll.stop();
        if (run.whileOpen) run.whileOpen(dlg);
    });
    auto previous = ui::SetModalHook([&](ui::ModalKind kind, CWnd* wnd) {
        if (kind != ui::ModalKind::Dialog) return;
        if (auto* login = dynamic_cast<CLoginDlg*>(wnd)) {
            if (run.onLogin) run.onLogin(*login);
            return;
        }
        if (wnd == &dlg) {
            poll.start(10);
            return;
        }
        if (run.onOtherDialog) run.onOtherDialog(*static_cast<CDialog*>(wnd));
    });
    if (AfxGetApp()) AfxGetApp()->m_pMainWnd = &dlg;
    const INT_PTR result = dlg.DoModal();
    if (AfxGetApp()) AfxGetApp()->m_pMainWnd = nullptr;
    ui::SetModalHook(previous);
    ui::SetModalEndHook(previousEnd);
    EXPECT_FALSE(watchdog.fired()) << "a dialog stayed open";
    return result;
}

INT_PTR runLoggedIn(const std::function<void(CrolvaneDlg&)>& body) {
    CrolvaneDlg dlg;
    return runMainDialog(dlg, {[](CLoginDlg& login) { loginAs(login, "root", "pw"); },
                               [&](CrolvaneDlg& main) {
                                   waitFor([&] { return isActive(main); });
                                   body(main);
                                   if (main.IsWindowVisible()) main.SendMessage(WM_CLOSE);
                               }});
}

void loginAs(CLoginDlg& login, const char* user, const char* password) {
    setTextOf(login, IDC_EDIT_ACCOUNT, user);
    setTextOf(login, IDC_EDIT_LOGINPWD, password);
    login.SendMessage(WM_COMMAND, MAKEWPARAM(IDC_BTN_LOGIN, BN_CLICKED), 0);
}

bool allSelected(CWnd& parent, int editId) {
    auto* edit = static_cast<CEdit*>(parent.GetDlgItem(editId));
    if (!edit) return false;
    int nStart = 0;
    int nEnd = 0;
    edit->GetSel(nStart, nEnd);
    const int nLength = edit->GetWindowTextLength();
    return nLength > 0 && nStart == 0 && nEnd == nLength;
}

}  // namespace progtest
