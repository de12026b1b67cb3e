#include "app/rolvane.h"

#include <cstdio>

#include "userdlg/rolvanedlg.h"

BEGIN_MESSAGE_MAP(CrolvaneApp, CWinApp)
ON_COMMAND(ID_HELP, OnHelp)
END_MESSAGE_MAP()

CrolvaneApp::CrolvaneApp() : CWinApp(nullptr) {
    m_dwRestartManagerSupportFlags = AFX_RESTART_MANAGER_SUPPORT_RESTART;
}

CrolvaneApp theApp;

BOOL CrolvaneApp::InitInstance() {
    INITCOMMONCONTROLSEX InitCtrls;
    InitCtrls.dwSize = sizeof(InitCtrls);
    InitCtrls.dwICC = ICC_WIN95_CLASSES;
    InitCommonControlsEx(&InitCtrls);

    CWinApp::InitInstance();
    AfxEnableControlContainer();
    CShellManager* pShellManager = new CShellManager;
    SetRegistryKey(kRegistryKey);

    // Another copy runs: bring its login or main window forward, say which
    // copy it was (a start meant for another store ends here too) and leave
    // with code 0. Returning (rather than exit) lets the process unwind.
    if (OpenMutexA(MUTEX_ALL_ACCESS, FALSE, kInstanceMutex)) {
        const char* pszShown = "login";
        HWND hWnd = FindWindowA(kDialogClass, kLoginTitle);
        if (!hWnd) {
            hWnd = FindWindowA(kDialogClass, kMainTitle);
            pszShown = "main";
        }
        DWORD dwPid = 0;
        if (hWnd) {
            SwitchToThisWindow(hWnd, TRUE);
            GetWindowThreadProcessId(hWnd, &dwPid);
            printf(
                "rolvane: already running as process %u; its %s window was brought to "
                "the front (one copy runs per session, on the store it started with)\n",
                unsigned(dwPid), pszShown);
        } else {
            printf(
                "rolvane: another copy holds this session but shows no window; not "
                "starting a second one\n");
        }
        fflush(stdout);
        delete pShellManager;
        return FALSE;
    }
    CreateMutexA(nullptr, FALSE, kInstanceMutex);

    CrolvaneDlg dlg;
    m_pMainWnd = &dlg;
    INT_PTR nResponse = dlg.DoModal();
    (void)nResponse;

    delete pShellManager;
    return FALSE;
}

int CrolvaneApp::ExitInstance() {
    return CWinApp::ExitInstance();
}
