// Dialogs: built from templates in dialog units, run in a nested loop, with
// the dialog keyboard (Enter, Escape, Tab).
#include <QAccessibleWidget>
#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFontMetrics>
#include <QPainter>
#include <QScreen>
#include <QTimer>

#include "cp936.h"
#include "dispatch.h"
#include "fonts.h"
#include "handle.h"
#include "icons.h"
#include "language.h"
#include "modal.h"
#include "textfit.h"
#include "widgets.h"

using namespace ui::detail;

namespace {

class DialogWidget : public QWidget {
public:
    HWND self = nullptr;
    int baseX = 1;
    int baseY = 1;

protected:
    void closeEvent(QCloseEvent* e) override {
        // The close box asks the dialog; it decides whether it closes.
        e->ignore();
        if (CWnd* wnd = wndOf(self)) dispatch(wnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    }
    void paintEvent(QPaintEvent* e) override {
        CWnd* wnd = wndOf(self);
        if (!wnd) return QWidget::paintEvent(e);
        dispatch(wnd, WM_PAINT, 0, 0, [this, e] {
            QWidget::paintEvent(e);
            return LRESULT(0);
        });
    }
};

// A dialog reads as a dialog (not a plain pane) to screen readers, named by
// its caption.
QAccessibleInterface* dialogAccessibleFactory(const QString&, QObject* object) {
    auto* w = dynamic_cast<DialogWidget*>(object);
    return w ? new QAccessibleWidget(w, QAccessible::Dialog) : nullptr;
}

DialogWidget* dialogWidget(const CWnd* wnd) {
    return dynamic_cast<DialogWidget*>(widgetOf(wnd));
}

ui::ControlKind kindOf(const ui::ControlTemplate& c) {
    return c.kind;
}

bool isPushButton(HWND h) {
    if (!h || h->kind != ui::ControlKind::Button) return false;
    const DWORD type = h->style & BS_TYPEMASK;
    return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
}

bool canTakeTab(HWND h) {
    QWidget* w = widgetOf(h);
    return w && (h->style & WS_TABSTOP) && w->isVisibleTo(w->window()) && w->isEnabled() &&
           w->focusPolicy() != Qt::NoFocus;
}

}  // namespace

// ---- data exchange ---------------------------------------------------------------
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl) {
    if (!pDX || !pDX->m_pDlgWnd || rControl.m_hWnd) return;
    if (CWnd* control = pDX->m_pDlgWnd->GetDlgItem(nIDC)) attach(control->m_hWnd, &rControl);
}

// ---- CDialog ----------------------------------------------------------------------
CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

CDialog::~CDialog() {
    if (m_hWnd && !m_hWnd->widget.isNull()) DestroyWindow();
}

BOOL CDialog::CreateFromTemplate() {
    const ui::DialogTemplate* t = ui::FindDialog(int(m_nIDTemplate));
    if (!t || !qApp) return FALSE;

    // Owned by the given parent or else the application's main window.
    CWnd* owner = m_pParentWnd;
    if (!owner && AfxGetApp() && AfxGetApp()->m_pMainWnd != this) owner = AfxGetApp()->m_pMainWnd;
    QWidget* ownerWidget = owner ? widgetOf(owner) : nullptr;

    static const bool s_factory = (QAccessible::installFactory(dialogAccessibleFactory), true);
    (void)s_factory;
    auto* w = new DialogWidget;
    HWND h = createHandle(w, this, 0, t->style, ui::ControlKind::Static);
    w->self = h;
    h->isDialog = true;
    h->owner = ownerWidget ? owner->m_hWnd : nullptr;

    Qt::WindowFlags flags = Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (t->style & WS_SYSMENU) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (t->style & WS_MINIMIZEBOX) flags |= Qt::WindowMinimizeButtonHint;
    if (ownerWidget)
        w->setParent(ownerWidget->window(), flags | Qt::Dialog);
    else
        w->setWindowFlags(flags | Qt::Window);
    w->setAttribute(Qt::WA_DeleteOnClose, false);

    QFont font(mapFaceName(decodeCp936(t->fontFace ? t->fontFace : "")));
    font.setPointSize(t->pointSize > 0 ? t->pointSize : 9);
    w->setFont(font);
    const QFontMetrics metrics(font);
    w->baseY = metrics.height();
    w->baseX = (metrics.horizontalAdvance(
                    QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
                    26 +
                1) /
               2;
    w->setFixedSize(MulDiv(t->cx, w->baseX, 4), MulDiv(t->cy, w->baseY, 8));
    // Shown in the operator's language, found by the program's own words too.
    const char* caption = t->caption ? t->caption : "";
    w->setWindowTitle(decodeCp936(translate(caption)));
    w->setProperty(kSourceTitleProperty, decodeCp936(caption));

    for (const ui::ControlTemplate& c : t->controls) {
        CRect r(c.x, c.y, c.x + c.cx, c.y + c.cy);
        MapDialogRect(&r);
        HWND control =
            createControl(nullptr, kindOf(c), translate(c.text), c.style | WS_CHILD, r, this, c.id);
        if (control && c.kind == ui::ControlKind::Icon) {
            control->style = (control->style & ~SS_TYPEMASK) | SS_ICON;
            setStaticIcon(control, loadIcon(c.iconId));
        }
    }
    labelFields(h);
    // The template was drawn for another font: texts that need more room
    // take it where it is free.
    fitControls(w);

    if (ownerWidget) {
        const QRect o = ownerWidget->window()->geometry();
        w->move(o.center() - QPoint(w->width() / 2, w->height() / 2));
    } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect s = screen->availableGeometry();
        w->move(s.center() - QPoint(w->width() / 2, w->height() / 2));
    }
    return TRUE;
}

void CDialog::MapDialogRect(RECT* r) const {
    const DialogWidget* w = dialogWidget(this);
    if (!r || !w) return;
    *r = RECT{MulDiv(r->left, w->baseX, 4), MulDiv(r->top, w->baseY, 8),
              MulDiv(r->right, w->baseX, 4), MulDiv(r->bottom, w->baseY, 8)};
}

INT_PTR CDialog::DoModal() {
    if (m_hWnd && !m_hWnd->widget.isNull()) return -1;  // already running
    m_bEnded = FALSE;
    m_nModalResult = -1;
    if (!CreateFromTemplate()) return -1;
    QWidget* w = widgetOf(this);

    const BOOL wantsDefaultFocus = OnInitDialog();
    bool looped = false;
    if (!m_bEnded && widgetOf(this)) {
        w->setWindowModality(Qt::ApplicationModal);
        w->show();
        w->raise();
        w->activateWindow();
        if (wantsDefaultFocus) {
            for (HWND child : m_hWnd->children) {
                if (canTakeTab(child)) {
                    widgetOf(child)->setFocus(Qt::TabFocusReason);
                    break;
                }
            }
        }
        QEventLoop loop;
        m_pLoop = &loop;
        m_bInModal = TRUE;
        QTimer::singleShot(0, &loop, [this] {
            if (!m_bEnded) runModalHook(ui::ModalKind::Dialog, this);
        });
        looped = !m_bEnded;
        if (looped) loop.exec(QEventLoop::DialogExec);
        m_bInModal = FALSE;
        m_pLoop = nullptr;
    }
    const int result = m_nModalResult;
    HWND owner = m_hWnd ? m_hWnd->owner : nullptr;
    DestroyWindow();
    // As on the desktop it came from: the owner takes the activation back.
    if (QWidget* o = widgetOf(owner); o && o->isVisible()) o->window()->activateWindow();
    // Told once the window is gone, so a test sees what the caller sees next.
    if (looped) runModalEndHook(ui::ModalKind::Dialog, this);
    return result;
}

void CDialog::EndDialog(int nResult) {
    m_nModalResult = nResult;
    m_bEnded = TRUE;
    if (QWidget* w = widgetOf(this)) w->hide();
    if (m_pLoop) static_cast<QEventLoop*>(m_pLoop)->exit(nResult);
}

BOOL CDialog::DestroyWindow() {
    if (m_pLoop) static_cast<QEventLoop*>(m_pLoop)->exit(m_nModalResult);
    return CWnd::DestroyWindow();
}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate) {
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

void CDialog::OnOK() {
    if (!UpdateData(TRUE)) return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

int CDialog::GetDefID() const {
    if (!m_hWnd) return 0;
    for (HWND child : m_hWnd->children)
        if (child->kind == ui::ControlKind::Button &&
            (child->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON && !child->widget.isNull())
            return child->id;
    return 0;
}

LRESULT CDialog::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (runFallback(this, message, &result)) return result;
    if (message == WM_CLOSE) {
        // A dialog's close request is its cancel command.
        CWnd* cancel = GetDlgItem(IDCANCEL);
        return SendMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                           LPARAM(cancel ? cancel->m_hWnd : nullptr));
    }
    return CWnd::DefWindowProc(message, wParam, lParam);
}

// The dialog keyboard: Tab moves in template order, Enter gives the default
// button's command, Escape gives IDCANCEL.
BOOL CDialog::PreTranslateMessage(MSG* pMsg) {
    if (!pMsg || pMsg->message != WM_KEYDOWN || !m_hWnd) return FALSE;
    HWND focus = nearestHandle(QApplication::focusWidget());
    switch (pMsg->wParam) {
        case VK_TAB: {
            const auto& order = m_hWnd->children;
            if (order.empty()) return TRUE;
            const bool back = GetKeyState(VK_SHIFT) < 0;
            const int n = int(order.size());
            int at = -1;
            for (int i = 0; i < n; ++i)
                if (order[size_t(i)] == focus) at = i;
            for (int step = 1; step <= n; ++step) {
                const int i = at < 0 ? (back ? n - step : step - 1)
                                     : ((at + (back ? -step : step)) % n + n) % n;
                if (canTakeTab(order[size_t(i)])) {
                    widgetOf(order[size_t(i)])
                        ->setFocus(back ? Qt::BacktabFocusReason : Qt::TabFocusReason);
                    if (order[size_t(i)]->kind == ui::ControlKind::Edit)
                        static_cast<CEdit*>(wndOf(order[size_t(i)]))->SetSel(0, -1);
                    break;
                }
            }
            return TRUE;
        }
        case VK_RETURN: {
            if (focus && focus->kind == ui::ControlKind::Edit &&
                (focus->style & (ES_MULTILINE | ES_WANTRETURN)) == (ES_MULTILINE | ES_WANTRETURN))
                return FALSE;
            const bool ownFocus = focus && focus->parent == m_hWnd;
            const int id =
                ownFocus && isPushButton(focus) ? focus->id : (GetDefID() ? GetDefID() : IDOK);
            CWnd* button = GetDlgItem(id);
            if (button && !button->IsWindowEnabled()) return TRUE;
            SendMessage(WM_COMMAND, MAKEWPARAM(unsigned(id), BN_CLICKED),
                        LPARAM(button ? button->m_hWnd : nullptr));
            return TRUE;
        }
        case VK_ESCAPE: {
            CWnd* cancel = GetDlgItem(IDCANCEL);
            SendMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                        LPARAM(cancel ? cancel->m_hWnd : nullptr));
            return TRUE;
        }
        default:
            return FALSE;
    }
}

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_COMMAND(IDOK, OnOK)
ON_COMMAND(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

void CDialogEx::SetBackgroundColor(COLORREF color, BOOL bRepaint) {
    QWidget* w = widgetOf(this);
    if (!w) return;
    QPalette palette = w->palette();
    palette.setColor(QPalette::Window,
                     QColor(GetRValue(color), GetGValue(color), GetBValue(color)));
    w->setPalette(palette);
    w->setAutoFillBackground(true);
    if (bRepaint) w->update();
}

IMPLEMENT_DYNAMIC(CDialog, CWnd)
IMPLEMENT_DYNAMIC(CDialogEx, CDialog)
