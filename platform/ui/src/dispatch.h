// How messages reach windows: sent ones nested, posted ones in order, and
// controls reporting to their parent.
#pragma once

#include <functional>

#include "ui/framework.h"

namespace ui::detail {

// Dispatches message to the window; `fallback` is the default handling that
// Default()/DefWindowProc run for it (once at most).
LRESULT dispatch(CWnd* wnd, UINT message, WPARAM wParam, LPARAM lParam,
                 std::function<LRESULT()> fallback = {});
bool postMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
// The message being dispatched to wnd (innermost), for Default().
bool currentMessage(CWnd* wnd, UINT* message, WPARAM* wParam, LPARAM* lParam);
bool runFallback(CWnd* wnd, UINT message, LRESULT* result);

// WM_COMMAND (code, id) from a control to its parent.
LRESULT notifyCommand(CWnd* control, UINT code);
// WM_NOTIFY from a control to its parent; hdr's hwndFrom/idFrom/code are set here.
LRESULT notifyParent(CWnd* control, NMHDR* hdr, UINT code);

}  // namespace ui::detail
