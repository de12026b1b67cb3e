// The GUI test kit: one implementation for every test folder, built as its
// own library so that the program never carries QtTest.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include "cp936.h"
#include "handle.h"
#include "language.h"
#include "textfit.h"
#include "ui/testing_qt.h"

namespace ui::test {

// ---- watchdog -----------------------------------------------------------------------
struct Watchdog::Timer {
    QTimer timer;
    bool fired = false;
};

Watchdog::Watchdog(int ms) : m_timer(std::make_unique<Timer>()) {
    m_timer->timer.setSingleShot(true);
    QObject::connect(&m_timer->timer, &QTimer::timeout, [t = m_timer.get()] {
        t->fired = true;
        closeModals();
    });
    m_timer->timer.start(ms);
}
Watchdog::~Watchdog() = default;

bool Watchdog::fired() const {
    return m_timer->fired;
}

void Watchdog::closeModals() {
    for (int i = 0; i < 20; ++i) {
        if (QWidget* popup = QApplication::activePopupWidget()) {
            popup->close();
        } else if (QWidget* modal = QApplication::activeModalWidget()) {
            // A dialog of ours ends through its own path, so DoModal returns;
            // a message box without an escape button ignores close().
            if (auto* dialog = dynamic_cast<CDialog*>(detail::wndOf(detail::handleOf(modal))))
                dialog->EndDialog(IDABORT);
            else if (auto* box = qobject_cast<QDialog*>(modal))
                box->done(QDialog::Rejected);
            else
                modal->close();
        } else {
            return;
        }
    }
}

// ---- a host window and message boxes ------------------------------------------------
HostWindow::HostWindow(int width, int height) {
    // Deleted through DestroyWindow, as any window of the framework.
    auto* w = new QWidget;
    w->resize(width, height);
    detail::createHandle(w, this, 0, WS_POPUP | WS_CAPTION | WS_SYSMENU, ControlKind::Static);
}

HostWindow::~HostWindow() {
    DestroyWindow();
}

bool HostWindow::showAndWait() {
    QWidget* w = widget(this);
    w->show();
    return QTest::qWaitForWindowExposed(w);
}

MessageBoxScript::MessageBoxScript() {
    m_previous = SetMessageBoxPresenter([this](const MessageBoxRequest& r) {
        m_shown.push_back(r);
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
    SetMessageBoxPresenter(std::move(m_previous));
    EXPECT_TRUE(m_answers.empty()) << m_answers.size() << " expected message box(es) not shown";
}

void MessageBoxScript::expect(int answer) {
    m_answers.push_back(answer);
}

std::vector<std::string> MessageBoxScript::texts() const {
    std::vector<std::string> out;
    for (const MessageBoxRequest& r : m_shown) out.push_back(r.text);
    return out;
}

// ---- the environment ----------------------------------------------------------------
bool noWindowLeft() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible()) return false;
    return true;
}

int focusId() {
    CWnd* focus = CWnd::GetFocus();
    return focus ? focus->GetDlgCtrlID() : 0;
}

bool waitFor(const std::function<bool()>& pred, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!pred()) {
        if (clock.elapsed() > ms) return false;
        QTest::qWait(5);
    }
    return true;
}

INT_PTR runModal(CDialog& dialog, const std::function<void()>& body) {
    bool ran = false;
    bool active = false;
    ModalHook previous = SetModalHook([&](ModalKind kind, CWnd* wnd) {
        if (kind != ModalKind::Dialog || wnd != &dialog || ran) return;
        ran = true;
        QWidget* w = widget(&dialog);
        active = w && QTest::qWaitForWindowActive(w);
        if (active) body();
        if (QWidget* still = widget(&dialog); still && still->isVisible())
            dialog.EndDialog(int(active ? kLeftOpen : kNeverActive));
    });
    const INT_PTR result = dialog.DoModal();
    SetModalHook(std::move(previous));
    return result;
}

bool isActive(CWnd& wnd) {
    QWidget* w = widget(&wnd);
    return w && QApplication::activeWindow() == w->window();
}

// ---- keys and clicks ----------------------------------------------------------------
namespace {
Qt::Key qtKey(UINT vk) {
    if (vk >= 'A' && vk <= 'Z') return Qt::Key(Qt::Key_A + int(vk - 'A'));
    if (vk >= '0' && vk <= '9') return Qt::Key(Qt::Key_0 + int(vk - '0'));
    if (vk >= VK_F1 && vk < VK_F1 + 24) return Qt::Key(Qt::Key_F1 + int(vk - VK_F1));
    switch (vk) {
        case VK_RETURN:
            return Qt::Key_Return;
        case VK_ESCAPE:
            return Qt::Key_Escape;
        case VK_TAB:
            return Qt::Key_Tab;
        case VK_BACK:
            return Qt::Key_Backspace;
        case VK_SPACE:
            return Qt::Key_Space;
        case VK_LEFT:
            return Qt::Key_Left;
        case VK_RIGHT:
            return Qt::Key_Right;
        case VK_UP:
            return Qt::Key_Up;
        case VK_DOWN:
            return Qt::Key_Down;
        case VK_HOME:
            return Qt::Key_Home;
        case VK_END:
            return Qt::Key_End;
        case VK_PRIOR:
            return Qt::Key_PageUp;
        case VK_NEXT:
            return Qt::Key_PageDown;
        case VK_INSERT:
            return Qt::Key_Insert;
        case VK_DELETE:
            return Qt::Key_Delete;
        case VK_APPS:
            return Qt::Key_Menu;
        default:
            return Qt::Key_unknown;
    }
}
}  // namespace

bool sendKey(CWnd& wnd, UINT vk, UINT modifiers) {
    Qt::KeyboardModifiers mods;
    if (modifiers & kShift) mods |= Qt::ShiftModifier;
    if (modifiers & kControl) mods |= Qt::ControlModifier;
    if (modifiers & kAlt) mods |= Qt::AltModifier;
    const Qt::Key key = qtKey(vk);
    QWindow* window = windowOf(wnd);
    if (key == Qt::Key_unknown || !window) return false;
    QTest::keyClick(window, key, mods);
    return true;
}

bool click(CWnd& parent, int id) {
    QWidget* w = widget(parent, id);
    QWindow* window = windowOf(parent);
    if (!w || !window) return false;
    const QPoint at = w->mapTo(w->window(), w->rect().center());
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, at);
    return true;
}

// ---- controls by id -----------------------------------------------------------------
QWidget* widget(const CWnd* wnd) {
    return wnd ? detail::widgetOf(wnd) : nullptr;
}

QWidget* widget(CWnd& parent, int id) {
    return widget(parent.GetDlgItem(id));
}

QWindow* windowOf(const CWnd& wnd) {
    QWidget* w = widget(&wnd);
    return w ? w->window()->windowHandle() : nullptr;
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

CRect clientRectOf(CWnd& parent, CWnd* child) {
    CRect r;
    child->GetWindowRect(&r);
    parent.ScreenToClient(&r);
    return r;
}

std::string cp936(const char* utf8) {
    return detail::encodeCp936(QString::fromUtf8(utf8));
}

std::vector<std::string> translatedTexts() {
    return detail::translatedTexts();
}

QStringList unfitTexts(QWidget* window) {
    return detail::unfitTexts(window);
}

}  // namespace ui::test
