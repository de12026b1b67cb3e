// Seams for tests: message boxes pass through one replaceable presenter, and
// hooks run when a dialog or a pop-up menu enters and leaves its modal loop.
// Below them, the GUI test kit (library ui_testing), free of Qt types; what
// must speak Qt is in ui/testing_qt.h. The kit's main (library ui_test_main)
// runs a test program's GoogleTest cases in a QApplication, under Qt's
// offscreen platform unless QT_QPA_PLATFORM names another.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "ui/types.h"
#include "ui/wnd.h"

class CMenu;
class CDialog;

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
// Called after a modal loop that ran has returned: a dialog's window is gone
// by then (the object is not), a menu's choice is not yet posted. `wnd` as
// for SetModalHook. Returns the previous hook.
ModalHook SetModalEndHook(ModalHook hook);

// The framework's clock (GetTickCount, the last input's time and timers
// set from now on) runs rate times as fast as the real one, so that a test
// waits milliseconds for what a program counts in minutes. 1: real time.
void SetClockRate(unsigned rate);

}  // namespace ui

// ---- the GUI test kit -----------------------------------------------------------
namespace ui::test {

// A plain top-level window with a handle, for controls under test to be
// children of; its window goes with the object. Derived classes add message
// maps.
class HostWindow : public CWnd {
public:
    explicit HostWindow(int width = 420, int height = 320);
    ~HostWindow() override;
    // Shows it and waits until it is on the screen; false on timeout.
    bool showAndWait();
};

// Message boxes answered from a script while the object lives: each box
// takes the next answer given to expect(). A box nobody expected, and an
// expected box that was never shown, fail the running GoogleTest case.
class MessageBoxScript {
public:
    MessageBoxScript();
    ~MessageBoxScript();
    MessageBoxScript(const MessageBoxScript&) = delete;
    MessageBoxScript& operator=(const MessageBoxScript&) = delete;
    void expect(int answer = IDOK);
    const std::vector<MessageBoxRequest>& shown() const { return m_shown; }
    std::vector<std::string> texts() const;

private:
    std::deque<int> m_answers;
    std::vector<MessageBoxRequest> m_shown;
    MessageBoxPresenter m_previous;
};

// Closes every pop-up and modal window still open `ms` after its start (a
// dialog of the framework ends with IDABORT) and remembers that it had to.
// A test that sees fired() has failed: something was left waiting.
class Watchdog {
public:
    explicit Watchdog(int ms = 10000);
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;
    bool fired() const;
    // What the watchdog does when it fires, for a test's own clean-up.
    static void closeModals();

private:
    struct Timer;
    std::unique_ptr<Timer> m_timer;
};

// True when no top-level window is visible; windows deleted later are deleted
// first. Later tests depend on the activation, so every test ends with this.
bool noWindowLeft();

// The id of the control that has the focus, 0 for none.
int focusId();

// Processes events until `pred` holds or `ms` have passed; false on timeout.
bool waitFor(const std::function<bool()>& pred, int ms = 5000);

// runModal's results when the body could not finish the dialog: it returned
// with the dialog open (a failed assertion returns from the body only), or
// the dialog never became active and the body did not run.
constexpr INT_PTR kLeftOpen = -77;
constexpr INT_PTR kNeverActive = -78;
// Runs `dialog` modally; `body` runs inside its loop once its window is
// active. Whatever the body does, the dialog ends.
INT_PTR runModal(CDialog& dialog, const std::function<void()>& body);

// True when `wnd`'s window is the active one.
bool isActive(CWnd& wnd);

// A key pressed and released through `wnd`'s top-level window, so it travels
// the real path (focus, PreTranslateMessage, the dialog keys). `vk` is a
// VK_* code, a letter 'A'..'Z' or a digit; false for a key it cannot send.
enum KeyModifier : UINT { kNoModifier = 0, kShift = 1, kControl = 2, kAlt = 4 };
bool sendKey(CWnd& wnd, UINT vk, UINT modifiers = kNoModifier);
// A Qt key is no VK code: refused when compiling rather than sent wrong.
template <class Key>
requires std::is_enum_v<Key>
bool sendKey(CWnd& wnd, Key key, UINT modifiers = kNoModifier) = delete;
// A left click in the middle of control `id` of `parent`, through the window.
bool click(CWnd& parent, int id);

// Controls of `parent` by id: their text (CP936), their own shown flag (not
// hidden, whether or not the parent is shown), whether they are enabled.
std::string textOf(CWnd& parent, int id);
void setTextOf(CWnd& parent, int id, const char* cp936);
bool isShown(CWnd& parent, int id);
bool isEnabled(CWnd& parent, int id);
// A child's rectangle in its parent's client coordinates.
CRect clientRectOf(CWnd& parent, CWnd* child);

// The program's texts that a registered translation translates (CP936): the
// original text of every catalog entry.
std::vector<std::string> translatedTexts();

// The CP936 bytes of a UTF-8 text ("" if CP936 cannot hold it): test sources
// are UTF-8, the framework's texts CP936.
std::string cp936(const char* utf8);

}  // namespace ui::test
