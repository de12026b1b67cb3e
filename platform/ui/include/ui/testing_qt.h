// The part of the GUI test kit that speaks Qt: the widgets behind windows,
// for tests that inspect or drive a widget itself. Needs Qt on the include
// path; ordinary checks need only ui/testing.h.
#pragma once

#include <QStringList>
#include <QWidget>
#include <QWindow>

#include "ui/testing.h"

namespace ui::test {

// The widget of a window or of control `id` of `parent`; nullptr for none.
QWidget* widget(const CWnd* wnd);
QWidget* widget(CWnd& parent, int id);
// The top-level window that key and mouse events go through.
QWindow* windowOf(const CWnd& wnd);

// What a shown window (dialog, message box, pop-up menu) draws cut off: each
// text that needs more room than it has in its own font, each control that
// reaches outside the window, the window outside its screen. One line per
// fault naming the widget, the text, the need and the room; empty when all
// is whole.
QStringList unfitTexts(QWidget* window);

}  // namespace ui::test
