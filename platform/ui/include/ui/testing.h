// Seams for tests: message boxes pass through one replaceable presenter, and
// a hook runs when a dialog or a pop-up menu enters its modal loop.
#pragma once

#include <functional>
#include <string>

#include "ui/types.h"

class CWnd;
class CMenu;

namespace ui {

struct MessageBoxRequest {
    HWND owner;
    std::string text;     // CP936
    std::string caption;  // CP936
    UINT type;            // MB_* buttons | icon
};

using MessageBoxPresenter = std::function<int(const MessageBoxRequest&)>;
// Installs a presenter; an empty one restores the real message box. Returns
// the previous presenter.
MessageBoxPresenter SetMessageBoxPresenter(MessageBoxPresenter presenter);

enum class ModalKind { Dialog, PopupMenu, MessageBox };
// Called once the modal loop runs (from inside it). For pop-up menus, `wnd`
// is the owner; the menu is QApplication::activePopupWidget().
using ModalHook = std::function<void(ModalKind kind, CWnd* wnd)>;
ModalHook SetModalHook(ModalHook hook);

}  // namespace ui
