// The application object and the process entry.
#include <QApplication>

#include "icons.h"
#include "modal.h"

namespace {
CWinApp* g_app = nullptr;
ui::ModalHook& modalHook() {
    static ui::ModalHook s_hook;
    return s_hook;
}
ui::ModalHook& modalEndHook() {
    static ui::ModalHook s_hook;
    return s_hook;
}
}  // namespace

CWinApp::CWinApp(LPCTSTR) {
    g_app = this;
}
CWinApp::~CWinApp() {
    if (g_app == this) g_app = nullptr;
}

BOOL CWinApp::InitInstance() {
    return TRUE;
}
int CWinApp::ExitInstance() {
    return 0;
}
HICON CWinApp::LoadIcon(UINT nIDResource) const {
    return ui::detail::loadIcon(int(nIDResource));
}
void CWinApp::SetRegistryKey(LPCTSTR lpszRegistryKey) {
    m_strRegistryKey = lpszRegistryKey;
}
void CWinApp::OnHelp() {}

const MsgMap* CWinApp::GetThisMessageMap() {
    static const MsgMapEntry s_entries[] = {{MsgKind::End, 0, 0, 0, MsgSig::v_v, nullptr}};
    static const MsgMap s_map = {&CCmdTarget::GetThisMessageMap, s_entries};
    return &s_map;
}
const MsgMap* CWinApp::GetMessageMap() const {
    return GetThisMessageMap();
}

CWinApp* AfxGetApp() {
    return g_app;
}
void AfxEnableControlContainer() {}
BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* picce) {
    return picce != nullptr;
}

int AfxWinMain(int argc, char** argv) {
    static int s_argc = argc;
    QApplication application(s_argc, argv);
    // The program's own dialogs decide when it ends.
    application.setQuitOnLastWindowClosed(false);
    CWinApp* app = AfxGetApp();
    if (!app) return 1;
    int code = 0;
    if (app->InitInstance()) code = application.exec();
    const int exitCode = app->ExitInstance();
    return code != 0 ? code : exitCode;
}

namespace ui {
ModalHook SetModalHook(ModalHook hook) {
    ModalHook previous = std::move(modalHook());
    modalHook() = std::move(hook);
    return previous;
}
ModalHook SetModalEndHook(ModalHook hook) {
    ModalHook previous = std::move(modalEndHook());
    modalEndHook() = std::move(hook);
    return previous;
}
}  // namespace ui

namespace ui::detail {
void runModalHook(ModalKind kind, CWnd* wnd) {
    // A copy: the hook may install another while it runs.
    ModalHook hook = modalHook();
    if (hook) hook(kind, wnd);
}
void runModalEndHook(ModalKind kind, CWnd* wnd) {
    ModalHook hook = modalEndHook();
    if (hook) hook(kind, wnd);
}
}  // namespace ui::detail
