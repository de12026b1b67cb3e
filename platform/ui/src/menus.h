// The system menu of top-level windows.
#pragma once

#include "ui/framework.h"

namespace ui::detail {

// The system menu of a top-level window: made on first use with its standard
// "close" entry (SC_CLOSE), kept until the window goes.
CMenu* systemMenuOf(HWND hWnd);
// Shows it, as Alt+Space does.
void showSystemMenu(CWnd* wnd);

}  // namespace ui::detail
