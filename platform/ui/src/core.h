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

#include "ui/framework.h"

// What a window handle points at. Records are never freed while the process
// runs, so a stale handle is recognisable (widget gone) instead of dangling.
struct HWND__ {
    QPointer<QWidget> widget;
    CWnd* permanent = nullptr;           // the program's object bound to it
    std::unique_ptr<CWnd> temporary;     // framework object for unbound controls
    int id = 0;
    DWORD style = 0;
    DWORD exStyle = 0;
    ui::ControlKind kind = ui::ControlKind::Static;
    bool isDialog = false;
    CFont* font = nullptr;
    HICON bigIcon = nullptr;
    HICON smallIcon = nullptr;
    quint64 remoteId = 0;  // nonzero: a window of another running copy
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
HWND handleOf(const QWidget* widget);      // nullptr if not one of ours
CWnd* wndOf(HWND hWnd);                    // permanent or temporary object
HWND remoteHandle(quint64 remoteId);       // a window of another copy
QWidget* widgetOf(const CWnd* wnd);
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

// ---- control widgets, one factory per kind ---------------------------------------
QWidget* createListWidget(HWND self, DWORD style, QWidget* parent);
QWidget* createComboWidget(HWND self, DWORD style, QWidget* parent);
QWidget* createEditWidget(HWND self, DWORD style, QWidget* parent);
QWidget* createButtonWidget(HWND self, DWORD style, const QString& text, QWidget* parent);
QWidget* createStaticWidget(HWND self, DWORD style, const QString& text, QWidget* parent);

// Real message box, used when no presenter is installed.
int showMessageBox(const MessageBoxRequest& request);
// The system menu of a top-level window, shown on Alt+Space.
void showSystemMenu(CWnd* wnd);

// The desktop server: answers other copies' window look-ups. Started by the
// lock holder (CreateMutexA).
void startInstanceServer(const std::string& lockName);

}  // namespace ui::detail
