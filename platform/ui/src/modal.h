// The seams around modal loops and message boxes.
#pragma once

#include "ui/framework.h"
#include "ui/testing.h"

namespace ui::detail {

// Runs the installed hook once a modal loop runs (from inside it).
void runModalHook(ModalKind kind, CWnd* wnd);
// Runs the installed end hook once a modal loop that ran has returned.
void runModalEndHook(ModalKind kind, CWnd* wnd);
// The installed presenter, or the real message box.
int presentMessageBox(const MessageBoxRequest& request);
// Real message box, used when no presenter is installed.
int showMessageBox(const MessageBoxRequest& request);

}  // namespace ui::detail
