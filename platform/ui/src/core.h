// Inside the framework: window records behind handles, text conversion at the
// Qt boundary, and the paths by which Qt events become messages.
#pragma once

#include <QFont>
#include <QIcon>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ui/framework.h"
#include "ui/testing.h"

// What a window handle points at. Records are never freed while the process
// runs, so a stale handle is recognisable (widget gone) instead of dangling.
struct HWND__ {
    QPointer<QWidget> widget;
    CWnd* permanent = nullptr;        // the program's object bound to it
    std::unique_ptr<CWnd> temporary;  // framework object for unbound controls
    int id = 0;
    DWORD style = 0;
    DWORD exStyle = 0;
    ui::ControlKind kind = ui::ControlKind::Static;
    bool isDialog = false;
    CFont* font = nullptr;
    HICON bigIcon = nullptr;
    HICON smallIcon = nullptr;
    quint64 remoteId = 0;                // nonzero: a window of another running copy
    HWND__* parent = nullptr;            // parent window (dialog of a control)
    HWND__* owner = nullptr;             // owner of a top-level dialog
    std::unique_ptr<CFont> defaultFont;  // what GetFont reports before SetFont
    std::vector<HWND__*> children;       // child windows in creation (tab) order
    bool alive() const { return remoteId != 0 || !widget.isNull(); }
};

namespace ui::detail {

// ---- text -------------------------------------------------------------------
QString fromCp936(std::string_view bytes);
// False in *ok (and "") when the text holds a character CP936 cannot encode.
std::string toCp936(const QString& text, bool* ok = nullptr);
bool encodableInCp936(const QString& text);

// ---- handles ----------------------------------------------------------------
HWND createHandle(QWidget* widget, CWnd* permanent, int id, DWORD style, ControlKind kind);
HWND handleOf(const QWidget* widget);        // nullptr if not one of ours
void setWidget(HWND hWnd, QWidget* widget);  // the widget made for a handle
CWnd* wndOf(HWND hWnd);                      // permanent or temporary object
HWND remoteHandle(quint64 remoteId);         // a window of another copy
QWidget* widgetOf(const CWnd* wnd);
// The nearest window of ours at or above a Qt widget (inner Qt parts of a
// control report as the control).
HWND nearestHandle(const QWidget* widget);
// Creates a control window. With self null the framework owns an object of
// the control's class (a template control nobody has bound yet).
HWND createControl(CWnd* self, ControlKind kind, const char* text, DWORD style, const RECT& rect,
                   CWnd* parent, int id);
// Texts of control widgets, as Unicode.
QString widgetText(HWND hWnd);
void setWidgetText(HWND hWnd, const QString& text);
void setQFont(CFont& font, const QFont& qfont);
void setStaticIcon(HWND hWnd, HICON icon);
QWidget* widgetOf(HWND hWnd);
// Binds a program object to an existing handle (data exchange).
void attach(HWND hWnd, CWnd* wnd);

// ---- messages from Qt -------------------------------------------------------
// Dispatches message to the window; `fallback` is the default handling that
// Default()/DefWindowProc run for it (once at most).
LRESULT dispatch(CWnd* wnd, UINT message, WPARAM wParam, LPARAM lParam,
                 std::function<LRESULT()> fallback = {});
// WM_COMMAND (code, id) from a control to its parent.
LRESULT notifyCommand(CWnd* control, UINT code);
// WM_NOTIFY from a control to its parent; hdr's hwndFrom/idFrom/code are set here.
LRESULT notifyParent(CWnd* control, NMHDR* hdr, UINT code);

// ---- fonts ------------------------------------------------------------------
QFont qfontOf(const CFont* font);
// "宋体" and "MS Shell Dlg" become the installed CJK-capable family.
QString mapFaceName(const QString& face);

// ---- icons ------------------------------------------------------------------
QIcon qiconOf(HICON icon);
HICON loadIcon(int id);

// ---- modal loops --------------------------------------------------------------
void runModalHook(ModalKind kind, CWnd* wnd);
void runModalEndHook(ModalKind kind, CWnd* wnd);

// ---- control widgets, one factory per kind ---------------------------------------
QWidget* createListWidget(HWND self, DWORD style, QWidget* parent);
QWidget* createComboWidget(HWND self, DWORD style, QWidget* parent);
QWidget* createEditWidget(HWND self, DWORD style, QWidget* parent);
QWidget* createButtonWidget(HWND self, DWORD style, const QString& text, QWidget* parent);
QWidget* createStaticWidget(HWND self, DWORD style, const QString& text, QWidget* parent);

// Widget that hosts child windows of `parent` (a list hosts them in its
// viewport, so cell rectangles and child positions share one origin). A
// control widget names its host with the property "ui_child_host".
QWidget* childHost(HWND parent);

// The installed presenter, or the real message box.
int presentMessageBox(const MessageBoxRequest& request);
// Real message box, used when no presenter is installed.
int showMessageBox(const MessageBoxRequest& request);
// The system menu of a top-level window, shown on Alt+Space.
void showSystemMenu(CWnd* wnd);

// The desktop server: answers other copies' window look-ups. Started by the
// lock holder (CreateMutexA).
void startInstanceServer(const std::string& lockName);

}  // namespace ui::detail

namespace ui::detail {
bool postMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
// The message being dispatched to wnd (innermost), for Default().
bool currentMessage(CWnd* wnd, UINT* message, WPARAM* wParam, LPARAM* lParam);
bool runFallback(CWnd* wnd, UINT message, LRESULT* result);
}  // namespace ui::detail

namespace ui::detail {
// The system menu of a top-level window: made on first use with its standard
// "close" entry (SC_CLOSE), kept until the window goes. Lives in menu.cpp.
CMenu* systemMenuOf(HWND hWnd);
}  // namespace ui::detail
