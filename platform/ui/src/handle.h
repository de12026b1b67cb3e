// Window records behind handles: what a handle points at, and the way from a
// handle to its widget and its program object and back.
#pragma once

#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <map>
#include <memory>
#include <vector>

#include "ui/framework.h"

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
    quint64 remoteId = 0;                         // nonzero: a window of another running copy
    HWND__* parent = nullptr;                     // parent window (dialog of a control)
    HWND__* owner = nullptr;                      // owner of a top-level dialog
    std::unique_ptr<CFont> defaultFont;           // what GetFont reports before SetFont
    std::vector<HWND__*> children;                // child windows in creation (tab) order
    std::map<UINT_PTR, QPointer<QTimer>> timers;  // SetTimer's, by id
    bool alive() const { return remoteId != 0 || !widget.isNull(); }
};

namespace ui::detail {

HWND createHandle(QWidget* widget, CWnd* permanent, int id, DWORD style, ControlKind kind);
HWND handleOf(const QWidget* widget);        // nullptr if not one of ours
void setWidget(HWND hWnd, QWidget* widget);  // the widget made for a handle
CWnd* wndOf(HWND hWnd);                      // permanent or temporary object
HWND remoteHandle(quint64 remoteId);         // a window of another copy
QWidget* widgetOf(const CWnd* wnd);
QWidget* widgetOf(HWND hWnd);
// The nearest window of ours at or above a Qt widget (inner Qt parts of a
// control report as the control).
HWND nearestHandle(const QWidget* widget);
// Binds a program object to an existing handle (data exchange).
void attach(HWND hWnd, CWnd* wnd);
// Widget that hosts child windows of `parent` (a list hosts them in its
// viewport, so cell rectangles and child positions share one origin). A
// control widget names its host with the property "ui_child_host".
QWidget* childHost(HWND parent);

}  // namespace ui::detail
