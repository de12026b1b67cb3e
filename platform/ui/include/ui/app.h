// The application object and the process entry that runs it.
#pragma once

#include "ui/wnd.h"

class CWinApp : public CCmdTarget {
public:
    explicit CWinApp(LPCTSTR lpszAppName = nullptr);
    ~CWinApp() override;

    virtual BOOL InitInstance();
    virtual int ExitInstance();

    HICON LoadIcon(UINT nIDResource) const;
    // Called by the program's start; it stores no settings, so there is no
    // registry to name and the key is dropped.
    void SetRegistryKey(LPCTSTR lpszRegistryKey);

    CWnd* m_pMainWnd = nullptr;
    DWORD m_dwRestartManagerSupportFlags = 0;

protected:
    void OnHelp();

    static const MsgMap* GetThisMessageMap();
    const MsgMap* GetMessageMap() const override;
};

CWinApp* AfxGetApp();
// Called by the program's start; every control is a Qt widget already.
void AfxEnableControlContainer();
// Tells whoever runs the program a line (CP936): on standard error after the
// program's name, and in the platform's system log.
void AfxLogNotice(LPCTSTR lpszLine);

// Ends every modal window and pop-up menu open above pWnd's window as its
// close box (a dialog's WM_CLOSE), Escape (a message box's answer) or a
// click elsewhere (a menu, choosing nothing) would; their loops return once
// the caller's handler has. TRUE when there was one.
BOOL AfxEndModalWindows(CWnd* pWnd);

// The process entry: runs the one application object and returns the exit code.
int AfxWinMain(int argc, char** argv);

constexpr UINT ID_HELP = 0xE146;
constexpr DWORD AFX_RESTART_MANAGER_SUPPORT_RESTART = 0x01;

// Common-control initialisation (nothing to do over Qt, kept for the call).
struct INITCOMMONCONTROLSEX {
    DWORD dwSize;
    DWORD dwICC;
};
constexpr DWORD ICC_WIN95_CLASSES = 0xFF;
BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* picce);

// The framework's shell manager; nothing to manage here.
class CShellManager {};

// ---- desktop ----------------------------------------------------------------
constexpr DWORD MUTEX_ALL_ACCESS = 0x1F0001;
// A per-user, per-session named lock; gone when its process dies.
HANDLE OpenMutexA(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCSTR lpName);
HANDLE CreateMutexA(void* lpMutexAttributes, BOOL bInitialOwner, LPCSTR lpName);
// Finds a top-level window of this or another running copy by class and title.
HWND FindWindowA(LPCSTR lpClassName, LPCSTR lpWindowName);
void SwitchToThisWindow(HWND hWnd, BOOL fUnknown);
// The process a window belongs to, in *lpdwProcessId; 0 for no window.
DWORD GetWindowThreadProcessId(HWND hWnd, DWORD* lpdwProcessId);

// ---- time and input -----------------------------------------------------------
// Milliseconds since the program started, wrapping after 49 days.
DWORD GetTickCount();
// The time of the last input the program received (TRUE), in plii->dwTime.
BOOL GetLastInputInfo(LASTINPUTINFO* plii);
