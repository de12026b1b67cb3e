// CWnd: a thin object over its handle; the state lives in the Qt widget.
#include <QApplication>
#include <QCursor>
#include <QPainter>
#include <QScreen>
#include <cstring>

#include "cp936.h"
#include "fonts.h"
#include "handle.h"
#include "icons.h"
#include "menus.h"
#include "modal.h"
#include "textfit.h"
#include "widgets.h"

using namespace ui::detail;

int MulDiv(int a, int b, int c) {
    if (c == 0) return -1;
    const long long p = static_cast<long long>(a) * b;
    long long q = p / c;
    const long long r = p % c;
    if (2 * (r < 0 ? -r : r) >= (c < 0 ? -static_cast<long long>(c) : c))
        q += ((p < 0) != (c < 0)) ? -1 : 1;
    return static_cast<int>(q);
}

int GetSystemMetrics(int index) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    switch (index) {
        case SM_CXSCREEN:
            return screen ? screen->geometry().width() : 0;
        case SM_CYSCREEN:
            return screen ? screen->geometry().height() : 0;
        case SM_CXICON:
        case SM_CYICON:
            return 32;
        case SM_CXSMICON:
        case SM_CYSMICON:
            return 16;
        default:
            return 0;  // an index it does not know, as the desktop answers
    }
}

BOOL GetCursorPos(POINT* p) {
    if (!p) return FALSE;
    const QPoint pos = QCursor::pos();
    *p = POINT{pos.x(), pos.y()};
    return TRUE;
}

SHORT GetKeyState(int nVirtKey) {
    // The state as of the input event being handled, as on a message queue.
    const Qt::KeyboardModifiers mods = QApplication::keyboardModifiers();
    bool down = false;
    switch (nVirtKey) {
        case int(VK_SHIFT):
            down = mods & Qt::ShiftModifier;
            break;
        case int(VK_CONTROL):
            down = mods & Qt::ControlModifier;
            break;
        case int(VK_MENU):
            down = mods & Qt::AltModifier;
            break;
        default:
            break;
    }
    return down ? SHORT(0x8000) : SHORT(0);
}

struct HBRUSH__ {
    bool hollow;
    COLORREF color;
};

HBRUSH GetStockObject(int index) {
    static HBRUSH__ s_stock[] = {
        {false, RGB(255, 255, 255)},  // WHITE_BRUSH
        {false, RGB(192, 192, 192)},  // LTGRAY_BRUSH
        {false, RGB(128, 128, 128)},  // GRAY_BRUSH
        {false, RGB(64, 64, 64)},     // DKGRAY_BRUSH
        {false, RGB(0, 0, 0)},        // BLACK_BRUSH
        {true, 0},                    // NULL_BRUSH
    };
    return index >= 0 && index < int(std::size(s_stock)) ? &s_stock[index] : nullptr;
}

namespace ui::detail {
bool brushFill(HBRUSH brush, QColor* color) {
    if (!brush || brush->hollow) return false;
    *color = QColor(GetRValue(brush->color), GetGValue(brush->color), GetBValue(brush->color));
    return true;
}
}  // namespace ui::detail

// ---- CDC ---------------------------------------------------------------------
COLORREF CDC::SetTextColor(COLORREF c) {
    const COLORREF old = m_textColor;
    m_textColor = c;
    m_hasTextColor = TRUE;
    return old;
}

int CDC::SetBkMode(int mode) {
    const int old = m_bkMode;
    m_bkMode = mode;
    return old;
}

// A context that only carries colours has no surface to draw on.
BOOL CDC::DrawIcon(int, int, HICON) {
    return FALSE;
}

CPaintDC::CPaintDC(CWnd* pWnd) : m_pWnd(pWnd) {}

BOOL CPaintDC::DrawIcon(int x, int y, HICON hIcon) {
    QWidget* w = widgetOf(m_pWnd);
    if (!w || !hIcon || !w->paintingActive()) return FALSE;
    QPainter painter(w);
    qiconOf(hIcon).paint(&painter, x, y, GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON));
    return TRUE;
}

// ---- CWnd --------------------------------------------------------------------
CWnd::CWnd() = default;

CWnd::~CWnd() {
    if (m_hWnd && m_hWnd->permanent == this) {
        if (!m_hWnd->widget.isNull()) DestroyWindow();
        if (m_hWnd) m_hWnd->permanent = nullptr;
    }
}

CWnd* CWnd::FromHandle(HWND hWnd) {
    return wndOf(hWnd);
}

namespace {
ui::ControlKind kindOfClass(LPCTSTR cls) {
    const std::string name = cls ? cls : "";
    auto is = [&](const char* s) { return strcasecmp(name.c_str(), s) == 0; };
    if (is("BUTTON")) return ui::ControlKind::Button;
    if (is("EDIT")) return ui::ControlKind::Edit;
    if (is("COMBOBOX")) return ui::ControlKind::ComboBox;
    if (is("SysListView32")) return ui::ControlKind::ListView;
    return ui::ControlKind::Static;
}

// Marks a window and everything below it as gone, so nothing dispatches to it.
void retire(HWND h) {
    for (HWND child : h->children) retire(child);
    if (h->permanent) h->permanent->m_hWnd = nullptr;
    if (h->temporary) h->temporary->m_hWnd = nullptr;
    h->permanent = nullptr;
    h->widget.clear();
}
}  // namespace

BOOL CWnd::Create(LPCTSTR lpszClassName, LPCTSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                  CWnd* pParentWnd, UINT nID) {
    return createControl(this, kindOfClass(lpszClassName), lpszWindowName, dwStyle, rect,
                         pParentWnd, int(nID)) != nullptr;
}

BOOL CWnd::DestroyWindow() {
    HWND h = m_hWnd;
    if (!h || h->widget.isNull()) return FALSE;
    QPointer<QWidget> widget = h->widget;
    if (h->parent) {
        auto& siblings = h->parent->children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), h), siblings.end());
    }
    retire(h);
    widget->hide();
    widget->deleteLater();
    return TRUE;
}

CWnd* CWnd::GetDlgItem(int nID) const {
    if (!m_hWnd) return nullptr;
    for (HWND child : m_hWnd->children)
        if (child->id == nID && !child->widget.isNull()) return wndOf(child);
    return nullptr;
}

int CWnd::GetDlgCtrlID() const {
    return m_hWnd ? m_hWnd->id : 0;
}

CWnd* CWnd::GetParent() const {
    if (!m_hWnd) return nullptr;
    return wndOf(m_hWnd->parent ? m_hWnd->parent : m_hWnd->owner);
}

void CWnd::SetWindowText(LPCTSTR lpszString) {
    setWidgetText(m_hWnd, decodeCp936(lpszString ? lpszString : ""));
}

void CWnd::GetWindowText(CString& rString) const {
    rString = encodeCp936(widgetText(m_hWnd));
}

int CWnd::GetWindowText(LPTSTR lpszStringBuf, int nMaxCount) const {
    if (!lpszStringBuf || nMaxCount <= 0) return 0;
    const std::string text = encodeCp936(widgetText(m_hWnd));
    const int n = int(prefixAtBoundary(text, std::size_t(nMaxCount - 1)));
    std::memcpy(lpszStringBuf, text.data(), size_t(n));
    lpszStringBuf[n] = '\0';
    return n;
}

int CWnd::GetWindowTextLength() const {
    return int(encodeCp936(widgetText(m_hWnd)).size());
}

BOOL CWnd::EnableWindow(BOOL bEnable) {
    QWidget* w = widgetOf(this);
    if (!w) return FALSE;
    const BOOL wasDisabled = !w->isEnabled();
    w->setEnabled(bEnable != FALSE);
    return wasDisabled;
}

BOOL CWnd::IsWindowEnabled() const {
    QWidget* w = widgetOf(this);
    return w && w->isEnabled();
}

BOOL CWnd::ShowWindow(int nCmdShow) {
    QWidget* w = widgetOf(this);
    if (!w) return FALSE;
    const BOOL wasVisible = !w->isHidden();
    switch (nCmdShow) {
        case SW_HIDE:
            w->hide();
            break;
        case SW_MINIMIZE:
            w->showMinimized();
            break;
        case SW_RESTORE:
            w->showNormal();
            break;
        default:
            w->show();
            break;
    }
    return wasVisible;
}

BOOL CWnd::IsWindowVisible() const {
    QWidget* w = widgetOf(this);
    return w && w->isVisible();
}

BOOL CWnd::IsIconic() const {
    QWidget* w = widgetOf(this);
    return w && w->isMinimized();
}

CWnd* CWnd::SetFocus() {
    CWnd* previous = GetFocus();
    if (QWidget* w = widgetOf(this)) w->setFocus(Qt::OtherFocusReason);
    return previous;
}

CWnd* CWnd::GetFocus() {
    return wndOf(nearestHandle(QApplication::focusWidget()));
}

void CWnd::MoveWindow(int x, int y, int nWidth, int nHeight, BOOL bRepaint) {
    QWidget* w = widgetOf(this);
    if (!w) return;
    w->setGeometry(x, y, nWidth, nHeight);
    if (bRepaint) w->update();
}

void CWnd::MoveWindow(const RECT* r, BOOL bRepaint) {
    if (r) MoveWindow(r->left, r->top, r->right - r->left, r->bottom - r->top, bRepaint);
}

void CWnd::GetWindowRect(RECT* r) const {
    QWidget* w = widgetOf(this);
    if (!r) return;
    if (!w) {
        *r = RECT{0, 0, 0, 0};
        return;
    }
    const QRect g =
        w->isWindow() ? w->frameGeometry() : QRect(w->mapToGlobal(QPoint(0, 0)), w->size());
    *r = RECT{g.left(), g.top(), g.left() + g.width(), g.top() + g.height()};
}

// A list's client area is its viewport: cells, clicks and child windows
// share that origin.
void CWnd::GetClientRect(RECT* r) const {
    QWidget* w = m_hWnd ? childHost(m_hWnd) : nullptr;
    if (r) *r = w ? RECT{0, 0, w->width(), w->height()} : RECT{0, 0, 0, 0};
}

void CWnd::ScreenToClient(POINT* p) const {
    QWidget* w = m_hWnd ? childHost(m_hWnd) : nullptr;
    if (!w || !p) return;
    const QPoint q = w->mapFromGlobal(QPoint(p->x, p->y));
    *p = POINT{q.x(), q.y()};
}

namespace {
// Maps both corners of a rectangle with a point mapping of the window.
template <class MapPoint>
void mapCorners(RECT* r, MapPoint map) {
    if (!r) return;
    POINT tl{r->left, r->top}, br{r->right, r->bottom};
    map(&tl);
    map(&br);
    *r = RECT{tl.x, tl.y, br.x, br.y};
}
}  // namespace

void CWnd::ScreenToClient(RECT* r) const {
    mapCorners(r, [this](POINT* p) { ScreenToClient(p); });
}

void CWnd::ClientToScreen(POINT* p) const {
    QWidget* w = m_hWnd ? childHost(m_hWnd) : nullptr;
    if (!w || !p) return;
    const QPoint q = w->mapToGlobal(QPoint(p->x, p->y));
    *p = POINT{q.x(), q.y()};
}

void CWnd::ClientToScreen(RECT* r) const {
    mapCorners(r, [this](POINT* p) { ClientToScreen(p); });
}

void CWnd::SetFont(CFont* pFont, BOOL bRedraw) {
    QWidget* w = widgetOf(this);
    if (!w || !pFont || !pFont->IsCreated()) return;
    m_hWnd->font = pFont;
    w->setFont(qfontOf(pFont));
    fitLater(w);
    if (bRedraw) w->update();
}

CFont* CWnd::GetFont() const {
    QWidget* w = widgetOf(this);
    if (!w) return nullptr;
    if (m_hWnd->font) return m_hWnd->font;
    if (!m_hWnd->defaultFont) m_hWnd->defaultFont = std::make_unique<CFont>();
    setQFont(*m_hWnd->defaultFont, w->font());
    return m_hWnd->defaultFont.get();
}

DWORD CWnd::GetStyle() const {
    QWidget* w = widgetOf(this);
    if (!w) return 0;
    DWORD style = m_hWnd->style & ~(WS_VISIBLE | WS_DISABLED);
    if (!w->isHidden()) style |= WS_VISIBLE;
    if (!w->isEnabled()) style |= WS_DISABLED;
    return style;
}

DWORD CWnd::GetExStyle() const {
    return m_hWnd ? m_hWnd->exStyle : 0;
}

BOOL CWnd::ModifyStyleEx(DWORD dwRemove, DWORD dwAdd, UINT) {
    QWidget* w = widgetOf(this);
    if (!w) return FALSE;
    m_hWnd->exStyle = (m_hWnd->exStyle & ~dwRemove) | dwAdd;
    if (w->isWindow() && (m_hWnd->exStyle & WS_EX_APPWINDOW)) {
        // A window of its own on the task bar: no transient owner.
        const bool shown = w->isVisible();
        const Qt::WindowFlags flags = (w->windowFlags() & ~Qt::WindowType_Mask) | Qt::Window;
        const QPoint pos = w->pos();
        w->setParent(nullptr, flags);
        w->move(pos);
        if (shown) w->show();
    }
    return TRUE;
}

BOOL CWnd::SetForegroundWindow() {
    QWidget* w = widgetOf(this);
    if (!w) return FALSE;
    w->window()->raise();
    w->window()->activateWindow();
    return TRUE;
}

CMenu* CWnd::GetSystemMenu(BOOL) const {
    if (!m_hWnd || !widgetOf(this) || !widgetOf(this)->isWindow()) return nullptr;
    if (!(m_hWnd->style & WS_SYSMENU)) return nullptr;
    return systemMenuOf(m_hWnd);
}

HICON CWnd::SetIcon(HICON hIcon, BOOL bBigIcon) {
    QWidget* w = widgetOf(this);
    if (!w) return nullptr;
    HICON& slot = bBigIcon ? m_hWnd->bigIcon : m_hWnd->smallIcon;
    const HICON old = slot;
    slot = hIcon;
    if (hIcon) w->setWindowIcon(qiconOf(hIcon));
    return old;
}

CString CWnd::GetClassName() const {
    if (!m_hWnd) return CString();
    if (m_hWnd->isDialog) return CString("#32770");
    switch (m_hWnd->kind) {
        case ui::ControlKind::Button:
            return CString("Button");
        case ui::ControlKind::Edit:
            return CString("Edit");
        case ui::ControlKind::ComboBox:
            return CString("ComboBox");
        case ui::ControlKind::ListView:
            return CString("SysListView32");
        default:
            return CString("Static");
    }
}

int CWnd::MessageBox(LPCTSTR lpszText, LPCTSTR lpszCaption, UINT nType) {
    ui::MessageBoxRequest request{m_hWnd, lpszText ? lpszText : "",
                                  lpszCaption ? lpszCaption : "Error", nType};
    return presentMessageBox(request);
}
