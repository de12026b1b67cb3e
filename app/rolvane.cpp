#include "app/rolvane.h"

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

    // Another copy runs: bring its login or main window forward and leave
    // with code 0. Returning (rather than exit) lets the process unwind.
    if (OpenMutexA(MUTEX_ALL_ACCESS, FALSE, kInstanceMutex)) {
        if (HWND hWnd = FindWindowA(kDialogClass, kLoginTitle))
            SwitchToThisWindow(hWnd, TRUE);
        else if (HWND hMain = FindWindowA(kDialogClass, kMainTitle))
            SwitchToThisWindow(hMain, TRUE);
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
