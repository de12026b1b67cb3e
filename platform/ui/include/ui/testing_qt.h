// The part of the GUI test kit that speaks Qt: the widgets behind windows,
// for tests that inspect or drive a widget itself. Needs Qt on the include
// path; ordinary checks need only ui/testing.h.
#pragma once

#include <QWidget>
#include <QWindow>

#include "ui/testing.h"

namespace ui::test {

// The widget of a window or of control `id` of `parent`; nullptr for none.
QWidget* widget(const CWnd* wnd);
QWidget* widget(CWnd& parent, int id);
// The top-level window that key and mouse events go through.
QWindow* windowOf(const CWnd& wnd);

}  // namespace ui::test
