// Handles, message-map dispatch, sent and posted messages, and the routing of
// keys through PreTranslateMessage.
#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QWheelEvent>
#include <deque>

#include "dispatch.h"
#include "handle.h"
#include "menus.h"

namespace ui::detail {
namespace {

// Records live as long as the process so that stale handles stay harmless.
std::deque<std::unique_ptr<HWND__>>& records() {
    static std::deque<std::unique_ptr<HWND__>> s_records;
    return s_records;
}

constexpr const char* kHandleProperty = "ui_hwnd";

struct DispatchFrame {
    CWnd* wnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    std::function<LRESULT()> fallback;
};
std::vector<DispatchFrame*>& frames() {
    static std::vector<DispatchFrame*> s_frames;
    return s_frames;
}

// ---- posted messages: one receiver keeps every post in FIFO order ------------
class PostedMessage : public QEvent {
public:
    static QEvent::Type type() {
        static const int t = QEvent::registerEventType();
        return QEvent::Type(t);
    }
    PostedMessage(HWND h, UINT m, WPARAM w, LPARAM l)
        : QEvent(type()), hwnd(h), message(m), wParam(w), lParam(l) {}
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

class Postbox : public QObject {
public:
    bool event(QEvent* e) override {
        if (e->type() != PostedMessage::type()) return QObject::event(e);
        auto* pm = static_cast<PostedMessage*>(e);
        if (CWnd* wnd = wndOf(pm->hwnd)) dispatch(wnd, pm->message, pm->wParam, pm->lParam);
        return true;
    }
};
Postbox& postbox() {
    static Postbox* s_box = new Postbox;  // lives with the process
    return *s_box;
}

// ---- keyboard -------------------------------------------------------------------
UINT virtualKey(const QKeyEvent* e) {
    const int k = e->key();
    if (k >= Qt::Key_A && k <= Qt::Key_Z) return UINT('A' + (k - Qt::Key_A));
    if (k >= Qt::Key_0 && k <= Qt::Key_9) return UINT('0' + (k - Qt::Key_0));
    if (k >= Qt::Key_F1 && k <= Qt::Key_F24) return VK_F1 + UINT(k - Qt::Key_F1);
    switch (k) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return VK_RETURN;
        case Qt::Key_Escape:
            return VK_ESCAPE;
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            return VK_TAB;
        case Qt::Key_Backspace:
            return VK_BACK;
        case Qt::Key_Space:
            return VK_SPACE;
        case Qt::Key_Left:
            return VK_LEFT;
        case Qt::Key_Right:
            return VK_RIGHT;
        case Qt::Key_Up:
            return VK_UP;
        case Qt::Key_Down:
            return VK_DOWN;
        case Qt::Key_Home:
            return VK_HOME;
        case Qt::Key_End:
            return VK_END;
        case Qt::Key_PageUp:
            return VK_PRIOR;
        case Qt::Key_PageDown:
            return VK_NEXT;
        case Qt::Key_Insert:
            return VK_INSERT;
        case Qt::Key_Delete:
            return VK_DELETE;
        case Qt::Key_Menu:
            return VK_APPS;
        case Qt::Key_Shift:
            return VK_SHIFT;
        case Qt::Key_Control:
            return VK_CONTROL;
        case Qt::Key_Alt:
            return VK_MENU;
        default:
            return 0;
    }
}

HWND topLevelOf(HWND h) {
    while (h && h->parent) h = h->parent;
    return h;
}

// Walks PreTranslateMessage from the window that has the message up to its
// top-level window; TRUE when one of them consumed it.
bool preTranslate(HWND target, MSG& msg) {
    for (HWND h = target; h; h = h->parent) {
        CWnd* wnd = wndOf(h);
        if (wnd && wnd->PreTranslateMessage(&msg)) return true;
        if (!wndOf(target)) return true;  // the window went away meanwhile
    }
    return false;
}

class InputRouter : public QObject {
public:
    bool eventFilter(QObject* obj, QEvent* e) override {
        switch (e->type()) {
            case QEvent::KeyPress:
                return routeKey(obj, static_cast<QKeyEvent*>(e));
            case QEvent::Wheel:
                return routeWheel(obj, static_cast<QWheelEvent*>(e));
            case QEvent::FocusIn:
            case QEvent::FocusOut:
                routeFocus(obj, static_cast<QFocusEvent*>(e));
                return false;
            default:
                return false;
        }
    }

private:
    static bool routeKey(QObject* obj, QKeyEvent* e) {
        if (!obj->isWidgetType() || QApplication::activePopupWidget()) return false;
        auto* widget = static_cast<QWidget*>(obj);
        // Handle each key once, at the widget that has the focus.
        QWidget* focus = QApplication::focusWidget();
        if (focus ? widget != focus : !widget->isWindow()) return false;
        const HWND target = nearestHandle(widget);
        if (!target) return false;
        const UINT vk = virtualKey(e);
        // Alt+Space opens the system menu, but desktops keep that key for
        // their own window menu; Alt+- (the platform's key for the menu of a
        // window inside a program) is left to us by every window manager.
        const bool menuKey = vk == VK_SPACE || e->key() == Qt::Key_Minus;
        if (menuKey && (e->modifiers() & Qt::AltModifier)) {
            if (CWnd* top = wndOf(topLevelOf(target)))
                top->SendMessage(WM_SYSCOMMAND, SC_KEYMENU, VK_SPACE);
            return true;
        }
        MSG msg{target, WM_KEYDOWN, vk, 0};
        if (vk == 0) return false;
        if (preTranslate(target, msg)) return true;
        if (vk == VK_F1) {
            HWND top = topLevelOf(target);
            HELPINFO info{sizeof(HELPINFO), 0, target->id, nullptr, 0, {0, 0}};
            if (CWnd* wnd = wndOf(top)) wnd->SendMessage(WM_HELP, 0, LPARAM(&info));
            return true;
        }
        return false;
    }

    static bool routeWheel(QObject* obj, QWheelEvent* e) {
        if (!obj->isWidgetType()) return false;
        auto* widget = static_cast<QWidget*>(obj);
        if (QApplication::widgetAt(e->globalPosition().toPoint()) != widget) return false;
        // The wheel is the focus window's message wherever the pointer is, so an
        // open cell edit ends; without a focus it is the pointed-at one's.
        const QWidget* focus = QApplication::focusWidget();
        HWND target = focus && focus->window() == widget->window() ? nearestHandle(focus) : nullptr;
        if (!target) target = nearestHandle(widget);
        if (!target) return false;
        const int delta = e->angleDelta().y();
        MSG msg{target, WM_MOUSEWHEEL, MAKEWPARAM(0, unsigned(delta)),
                MAKELPARAM(unsigned(e->globalPosition().x()), unsigned(e->globalPosition().y()))};
        return preTranslate(target, msg);
    }

    static void routeFocus(QObject* obj, QFocusEvent* e) {
        if (!obj->isWidgetType()) return;
        const HWND h = handleOf(static_cast<QWidget*>(obj));
        if (!h || h->isDialog) return;
        // Opening a drop-down keeps the focus where it was.
        if (e->reason() == Qt::PopupFocusReason) return;
        CWnd* wnd = wndOf(h);
        if (!wnd) return;
        if (e->type() == QEvent::FocusOut) {
            HWND to = nearestHandle(QApplication::focusWidget());
            dispatch(wnd, WM_KILLFOCUS, WPARAM(to), 0);
            if (wndOf(h) && h->kind == ControlKind::Edit) notifyCommand(wnd, EN_KILLFOCUS);
        } else {
            dispatch(wnd, WM_SETFOCUS, 0, 0);
            if (wndOf(h) && h->kind == ControlKind::Edit) notifyCommand(wnd, EN_SETFOCUS);
        }
    }
};

void ensureInputRouter() {
    static InputRouter* s_router = nullptr;
    if (s_router || !qApp) return;
    s_router = new InputRouter;  // lives with the application
    qApp->installEventFilter(s_router);
}

// ---- message-map search ----------------------------------------------------------
bool isCtlColor(UINT m) {
    return m >= WM_CTLCOLOREDIT && m <= WM_CTLCOLORSTATIC;
}

const MsgMapEntry* findEntry(const MsgMap* map, MsgKind kind, UINT message, UINT code, UINT id) {
    for (; map; map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const MsgMapEntry* e = map->entries; e && e->kind != MsgKind::End; ++e) {
            if (e->kind != kind) continue;
            switch (kind) {
                case MsgKind::Message:
                    if (e->message == message || (isCtlColor(message) && isCtlColor(e->message)))
                        return e;
                    break;
                case MsgKind::Command:
                case MsgKind::Notify:
                    if (e->code == code && e->id == id) return e;
                    break;
                case MsgKind::NotifyReflect:
                    if (e->code == code) return e;
                    break;
                case MsgKind::End:
                    break;
            }
        }
    }
    return nullptr;
}

UINT ctlColorKind(UINT message) {
    switch (message) {
        case WM_CTLCOLOREDIT:
            return CTLCOLOR_EDIT;
        case WM_CTLCOLORLISTBOX:
            return CTLCOLOR_LISTBOX;
        case WM_CTLCOLORBTN:
            return CTLCOLOR_BTN;
        case WM_CTLCOLORDLG:
            return CTLCOLOR_DLG;
        default:
            return CTLCOLOR_STATIC;
    }
}

}  // namespace

// ---- handles ----------------------------------------------------------------------
HWND createHandle(QWidget* widget, CWnd* permanent, int id, DWORD style, ControlKind kind) {
    ensureInputRouter();
    auto rec = std::make_unique<HWND__>();
    rec->widget = widget;
    rec->permanent = permanent;
    rec->id = id;
    rec->style = style;
    rec->kind = kind;
    HWND h = rec.get();
    records().push_back(std::move(rec));
    setWidget(h, widget);
    if (permanent) permanent->m_hWnd = h;
    return h;
}

void setWidget(HWND h, QWidget* widget) {
    h->widget = widget;
    if (widget) widget->setProperty(kHandleProperty, QVariant::fromValue<quintptr>(quintptr(h)));
}

HWND handleOf(const QWidget* widget) {
    if (!widget) return nullptr;
    const QVariant v = widget->property(kHandleProperty);
    return v.isValid() ? reinterpret_cast<HWND>(v.value<quintptr>()) : nullptr;
}

CWnd* wndOf(HWND h) {
    if (!h || h->remoteId != 0 || h->widget.isNull()) return nullptr;
    return h->permanent ? h->permanent : h->temporary.get();
}

HWND remoteHandle(quint64 remoteId) {
    auto rec = std::make_unique<HWND__>();
    rec->remoteId = remoteId;
    rec->isDialog = true;
    HWND h = rec.get();
    records().push_back(std::move(rec));
    return h;
}

HWND nearestHandle(const QWidget* w) {
    // Stops at a window: a message box or menu belongs to nobody's dialog.
    for (; w; w = w->parentWidget()) {
        if (HWND h = handleOf(w)) return h;
        if (w->isWindow()) break;
    }
    return nullptr;
}

QWidget* widgetOf(HWND h) {
    return h ? h->widget.data() : nullptr;
}
QWidget* widgetOf(const CWnd* wnd) {
    return wnd ? widgetOf(wnd->m_hWnd) : nullptr;
}

void attach(HWND h, CWnd* wnd) {
    if (!h || !wnd) return;
    h->permanent = wnd;
    wnd->m_hWnd = h;
}

QWidget* childHost(HWND parent) {
    QWidget* w = widgetOf(parent);
    if (!w) return nullptr;
    if (auto* host = qobject_cast<QWidget*>(w->property("ui_child_host").value<QObject*>()))
        return host;
    return w;
}

// ---- dispatch ----------------------------------------------------------------------
LRESULT dispatch(CWnd* wnd, UINT message, WPARAM wParam, LPARAM lParam,
                 std::function<LRESULT()> fallback) {
    if (!wnd || !wndOf(wnd->m_hWnd)) return 0;
    DispatchFrame frame{wnd, message, wParam, lParam, std::move(fallback)};
    frames().push_back(&frame);
    struct Pop {
        ~Pop() { frames().pop_back(); }
    } pop;
    return wnd->WindowProc(message, wParam, lParam);
}

// Runs the fallback of the innermost dispatch of exactly this message, once.
bool runFallback(CWnd* wnd, UINT message, LRESULT* result) {
    for (auto it = frames().rbegin(); it != frames().rend(); ++it) {
        DispatchFrame* f = *it;
        if (f->wnd != wnd || f->message != message) continue;
        if (!f->fallback) return false;
        auto fn = std::move(f->fallback);
        f->fallback = nullptr;
        *result = fn();
        return true;
    }
    return false;
}

bool currentMessage(CWnd* wnd, UINT* message, WPARAM* wParam, LPARAM* lParam) {
    for (auto it = frames().rbegin(); it != frames().rend(); ++it) {
        if ((*it)->wnd != wnd) continue;
        *message = (*it)->message;
        *wParam = (*it)->wParam;
        *lParam = (*it)->lParam;
        return true;
    }
    return false;
}

LRESULT notifyCommand(CWnd* control, UINT code) {
    if (!control || !control->m_hWnd || !control->m_hWnd->parent) return 0;
    CWnd* parent = wndOf(control->m_hWnd->parent);
    if (!parent) return 0;
    return dispatch(parent, WM_COMMAND, MAKEWPARAM(unsigned(control->m_hWnd->id), code),
                    LPARAM(control->m_hWnd));
}

LRESULT notifyParent(CWnd* control, NMHDR* hdr, UINT code) {
    if (!control || !control->m_hWnd || !control->m_hWnd->parent || !hdr) return 0;
    CWnd* parent = wndOf(control->m_hWnd->parent);
    if (!parent) return 0;
    hdr->hwndFrom = control->m_hWnd;
    hdr->idFrom = UINT_PTR(control->m_hWnd->id);
    hdr->code = code;
    return dispatch(parent, WM_NOTIFY, WPARAM(hdr->idFrom), LPARAM(hdr));
}

bool postMessage(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!wndOf(h) || !qApp) return false;
    QCoreApplication::postEvent(&postbox(), new PostedMessage(h, message, wParam, lParam));
    return true;
}

bool callEntry(CWnd* wnd, const MsgMapEntry* e, UINT message, WPARAM wParam, LPARAM lParam,
               LRESULT* result) {
    CCmdTarget* self = wnd;
    LRESULT r = 0;
    switch (e->sig) {
        case MsgSig::v_v:
            (self->*e->pfn)();
            break;
        case MsgSig::l_wl:
            r = (self->*std::bit_cast<LRESULT (CCmdTarget::*)(WPARAM, LPARAM)>(e->pfn))(wParam,
                                                                                        lParam);
            break;
        case MsgSig::v_notify:
            (self->*std::bit_cast<void (CCmdTarget::*)(NMHDR*, LRESULT*)>(e->pfn))(
                reinterpret_cast<NMHDR*>(lParam), &r);
            break;
        case MsgSig::b_help:
            r = (self->*std::bit_cast<BOOL (CCmdTarget::*)(HELPINFO*)>(e->pfn))(
                reinterpret_cast<HELPINFO*>(lParam));
            break;
        case MsgSig::h_ctlcolor:
            r = LRESULT((self->*std::bit_cast<HBRUSH (CCmdTarget::*)(CDC*, CWnd*, UINT)>(e->pfn))(
                reinterpret_cast<CDC*>(wParam), wndOf(reinterpret_cast<HWND>(lParam)),
                ctlColorKind(message)));
            break;
        case MsgSig::v_syscmd:
            (self->*std::bit_cast<void (CCmdTarget::*)(UINT, LPARAM)>(e->pfn))(UINT(wParam),
                                                                               lParam);
            break;
        case MsgSig::h_v:
            r = LRESULT((self->*std::bit_cast<HCURSOR (CCmdTarget::*)()>(e->pfn))());
            break;
        case MsgSig::v_wnd:
            (self->*std::bit_cast<void (CCmdTarget::*)(CWnd*)>(e->pfn))(
                wndOf(reinterpret_cast<HWND>(wParam)));
            break;
        case MsgSig::v_mouse:
            (self->*std::bit_cast<void (CCmdTarget::*)(UINT, CPoint)>(e->pfn))(
                UINT(wParam), CPoint(short(LOWORD(WPARAM(lParam))), short(HIWORD(WPARAM(lParam)))));
            break;
        case MsgSig::v_scroll:
            (self->*std::bit_cast<void (CCmdTarget::*)(UINT, UINT, CScrollBar*)>(e->pfn))(
                LOWORD(wParam), HIWORD(wParam), nullptr);
            break;
    }
    if (result) *result = r;
    return true;
}

}  // namespace ui::detail

// ---- CCmdTarget ----------------------------------------------------------------------
const MsgMap* CCmdTarget::GetThisMessageMap() {
    static const MsgMapEntry s_entries[] = {{MsgKind::End, 0, 0, 0, MsgSig::v_v, nullptr}};
    static const MsgMap s_map = {nullptr, s_entries};
    return &s_map;
}
const MsgMap* CCmdTarget::GetMessageMap() const {
    return GetThisMessageMap();
}

// ---- CWnd dispatch ---------------------------------------------------------------------
LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (!OnWndMsg(message, wParam, lParam, &result))
        result = DefWindowProc(message, wParam, lParam);
    return result;
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    using namespace ui::detail;
    if (message == WM_COMMAND) {
        if (!OnCommand(wParam, lParam)) return FALSE;
        *pResult = 0;
        return TRUE;
    }
    if (message == WM_NOTIFY) return OnNotify(wParam, lParam, pResult);
    const MsgMapEntry* e = findEntry(GetMessageMap(), MsgKind::Message, message, 0, 0);
    if (!e) return FALSE;
    return callEntry(this, e, message, wParam, lParam, pResult);
}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM lParam) {
    using namespace ui::detail;
    const UINT id = LOWORD(wParam);
    const UINT code = HIWORD(wParam);
    const MsgMapEntry* e = findEntry(GetMessageMap(), MsgKind::Command, WM_COMMAND, code, id);
    if (!e) return FALSE;
    return callEntry(this, e, WM_COMMAND, wParam, lParam, nullptr);
}

BOOL CWnd::OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    using namespace ui::detail;
    if (message != WM_NOTIFY) return FALSE;
    const auto* hdr = reinterpret_cast<const NMHDR*>(lParam);
    const MsgMapEntry* e =
        findEntry(GetMessageMap(), MsgKind::NotifyReflect, WM_NOTIFY, hdr->code, 0);
    if (!e) return FALSE;
    return callEntry(this, e, message, wParam, lParam, pResult);
}

BOOL CWnd::OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    using namespace ui::detail;
    auto* hdr = reinterpret_cast<NMHDR*>(lParam);
    if (!hdr) return FALSE;
    // Reflected first: a control that handles its own notification keeps it.
    if (CWnd* from = wndOf(hdr->hwndFrom); from && from != this) {
        if (from->OnChildNotify(WM_NOTIFY, wParam, lParam, pResult)) return TRUE;
    }
    const MsgMapEntry* e =
        findEntry(GetMessageMap(), MsgKind::Notify, WM_NOTIFY, hdr->code, UINT(hdr->idFrom));
    if (!e) return FALSE;
    return callEntry(this, e, WM_NOTIFY, wParam, lParam, pResult);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (ui::detail::runFallback(this, message, &result)) return result;
    switch (message) {
        case WM_SYSCOMMAND:
            switch (wParam & 0xFFF0) {
                case SC_CLOSE:
                    return SendMessage(WM_CLOSE);
                case SC_KEYMENU:
                    ui::detail::showSystemMenu(this);
                    return 0;
                case SC_MINIMIZE:
                    ShowWindow(SW_MINIMIZE);
                    return 0;
                case SC_RESTORE:
                    ShowWindow(SW_RESTORE);
                    return 0;
                default:
                    return 0;
            }
        case WM_HELP: {
            // Unanswered help goes up to the parent, which may answer for it.
            CWnd* parent = GetParent();
            return parent ? parent->SendMessage(WM_HELP, wParam, lParam) : 0;
        }
        default:
            return 0;
    }
}

LRESULT CWnd::Default() {
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    if (!ui::detail::currentMessage(this, &message, &wParam, &lParam)) return 0;
    return DefWindowProc(message, wParam, lParam);
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return ui::detail::dispatch(this, message, wParam, lParam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return ui::detail::postMessage(m_hWnd, message, wParam, lParam);
}

LRESULT SendMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CWnd* wnd = ui::detail::wndOf(hWnd);
    return wnd ? wnd->SendMessage(message, wParam, lParam) : 0;
}

BOOL PostMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return ui::detail::postMessage(hWnd, message, wParam, lParam);
}

BOOL CWnd::PreTranslateMessage(MSG*) {
    return FALSE;
}

// Default handlers reached through message maps of derived classes.
void CWnd::OnClose() {
    Default();
}
void CWnd::OnPaint() {
    Default();
}
BOOL CWnd::OnHelpInfo(HELPINFO*) {
    return BOOL(Default());
}
HBRUSH CWnd::OnCtlColor(CDC*, CWnd*, UINT) {
    return reinterpret_cast<HBRUSH>(Default());
}
void CWnd::OnSysCommand(UINT, LPARAM) {
    Default();
}
HCURSOR CWnd::OnQueryDragIcon() {
    return reinterpret_cast<HCURSOR>(Default());
}
void CWnd::OnKillFocus(CWnd*) {
    Default();
}
void CWnd::OnLButtonDown(UINT, CPoint) {
    Default();
}
void CWnd::OnRButtonDown(UINT, CPoint) {
    Default();
}
void CWnd::OnVScroll(UINT, UINT, CScrollBar*) {
    Default();
}
void CWnd::OnHScroll(UINT, UINT, CScrollBar*) {
    Default();
}

const MsgMap* CWnd::GetThisMessageMap() {
    static const MsgMapEntry s_entries[] = {{MsgKind::End, 0, 0, 0, MsgSig::v_v, nullptr}};
    static const MsgMap s_map = {&CCmdTarget::GetThisMessageMap, s_entries};
    return &s_map;
}
const MsgMap* CWnd::GetMessageMap() const {
    return GetThisMessageMap();
}

// ---- run-time classes ----------------------------------------------------------------
const CRuntimeClass CCmdTarget::classCCmdTarget = {"CCmdTarget", nullptr};
const CRuntimeClass* CCmdTarget::GetRuntimeClass() const {
    return &classCCmdTarget;
}
IMPLEMENT_DYNAMIC(CWnd, CCmdTarget)
