#include "program_test.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <algorithm>

#include "cp936.h"
#include "handle.h"
#include "res/resource.h"

namespace progtest {

MessageBoxScript::MessageBoxScript() {
    m_previous = ui::SetMessageBoxPresenter([this](const ui::MessageBoxRequest& r) {
        m_shown.push_back(Box{r.text, r.caption, r.type, r.owner});
        if (m_answers.empty()) {
            ADD_FAILURE() << "unexpected message box: " << r.text;
            return IDOK;
        }
        const int answer = m_answers.front();
        m_answers.pop_front();
        return answer;
    });
}

MessageBoxScript::~MessageBoxScript() {
    ui::SetMessageBoxPresenter(m_previous);
    EXPECT_TRUE(m_answers.empty()) << m_answers.size() << " expected message box(es) not shown";
}

std::vector<std::string> MessageBoxScript::texts() const {
    std::vector<std::string> out;
    for (const Box& b : m_shown) out.push_back(b.text);
    return out;
}

INT_PTR runMainDialog(CrolvaneDlg& dlg, const MainRun& run) {
    bool mainStarted = false;
    bool timedOut = false;
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        timedOut = true;
        for (int i = 0; i < 20; ++i) {
            if (QWidget* popup = QApplication::activePopupWidget()) {
                popup->close();
            } else if (QWidget* modal = QApplication::activeModalWidget()) {
                if (CWnd* w = ui::detail::wndOf(ui::detail::handleOf(modal)))
                    static_cast<CDialog*>(w)->EndDialog(IDABORT);
                else
                    modal->close();
            }
        }
    });
    watchdog.start(run.timeoutMs);

    auto previous = ui::SetModalHook([&](ui::ModalKind kind, CWnd* wnd) {
        if (kind != ui::ModalKind::Dialog) return;
        if (auto* login = dynamic_cast<CLoginDlg*>(wnd)) {
            if (run.onLogin) run.onLogin(*login);
            return;
        }
        if (wnd == &dlg) {
            mainStarted = true;
            // Run the body once nothing is modal above the main dialog.
            auto* poll = new QTimer;
            QObject::connect(poll, &QTimer::timeout, [&, poll] {
                if (!dlg.m_hWnd || !dlg.IsWindowVisible()) {  // ended
                    poll->stop();
                    poll->deleteLater();
                    return;
                }
                // The hand-over is over once it asked for the user's name; an
                // ended login's loop may still run a timer before it returns.
                const auto& log = fakestore::calls();
                const bool handedOver =
                    std::find(log.begin(), log.end(), "get_cur_user") != log.end();
                if (!handedOver || QApplication::activeModalWidget() != widget(&dlg)) return;
                poll->stop();
                poll->deleteLater();
                if (run.whileOpen) run.whileOpen(dlg);
            });
            poll->start(10);
            return;
        }
        if (run.onOtherDialog) run.onOtherDialog(*static_cast<CDialog*>(wnd));
    });
    if (AfxGetApp()) AfxGetApp()->m_pMainWnd = &dlg;
    const INT_PTR result = dlg.DoModal();
    if (AfxGetApp()) AfxGetApp()->m_pMainWnd = nullptr;
    ui::SetModalHook(previous);
    EXPECT_FALSE(timedOut) << "a dialog stayed open";
    (void)mainStarted;
    return result;
}

INT_PTR runLoggedIn(const std::function<void(CrolvaneDlg&)>& body) {
    CrolvaneDlg dlg;
    return runMainDialog(
        dlg, {[](CLoginDlg& login) { loginAs(login, "root", "pw"); },
              [&](CrolvaneDlg& main) {
                  waitFor([&] { return QApplication::activeWindow() == widget(&main); });
                  body(main);
                  if (main.IsWindowVisible()) main.SendMessage(WM_CLOSE);
              }});
}

void loginAs(CLoginDlg& login, const char* user, const char* password) {
    setTextOf(login, IDC_EDIT_ACCOUNT, user);
    setTextOf(login, IDC_EDIT_LOGINPWD, password);
    login.SendMessage(WM_COMMAND, MAKEWPARAM(IDC_BTN_LOGIN, BN_CLICKED), 0);
}

std::string cp(const char* utf8) {
    return ui::detail::toCp936(QString::fromUtf8(utf8));
}

QWidget* widget(CWnd* wnd) {
    return ui::detail::widgetOf(wnd);
}

QWidget* widget(CWnd& parent, int id) {
    CWnd* child = parent.GetDlgItem(id);
    return child ? ui::detail::widgetOf(child) : nullptr;
}

std::string textOf(CWnd& parent, int id) {
    CString s;
    if (CWnd* child = parent.GetDlgItem(id)) child->GetWindowText(s);
    return s.str();
}

void setTextOf(CWnd& parent, int id, const char* cp936) {
    if (CWnd* child = parent.GetDlgItem(id)) child->SetWindowText(cp936);
}

bool isShown(CWnd& parent, int id) {
    QWidget* w = widget(parent, id);
    return w && !w->isHidden();
}

bool isEnabled(CWnd& parent, int id) {
    CWnd* child = parent.GetDlgItem(id);
    return child && child->IsWindowEnabled();
}

int focusId() {
    CWnd* focus = CWnd::GetFocus();
    return focus ? focus->GetDlgCtrlID() : 0;
}

bool allSelected(CWnd& parent, int editId) {
    auto* edit = qobject_cast<QLineEdit*>(widget(parent, editId));
    return edit && !edit->text().isEmpty() && edit->selectionStart() == 0 &&
           edit->selectionLength() == edit->text().length();
}

CRect clientRectOf(CWnd& parent, CWnd* child) {
    CRect r;
    child->GetWindowRect(&r);
    parent.ScreenToClient(&r);
    return r;
}

void sendKey(CWnd& dlg, int qtKey, Qt::KeyboardModifiers mods) {
    QWidget* w = widget(&dlg);
    QTest::keyClick(w->windowHandle(), Qt::Key(qtKey), mods);
}

bool waitFor(const std::function<bool()>& pred, int ms) {
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > ms) return false;
        QTest::qWait(5);
    }
    return true;
}

bool noWindowLeft() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible()) return false;
    return true;
}

}  // namespace progtest
