#include "app/rolvane.h"

#include <cstdlib>

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

    // Another copy runs: bring its login or main window forward and leave.
    if (OpenMutexA(MUTEX_ALL_ACCESS, FALSE, kInstanceMutex)) {
        if (HWND hWnd = FindWindowA(kDialogClass, kLoginTitle))
            SwitchToThisWindow(hWnd, TRUE);
        else if (HWND hMain = FindWindowA(kDialogClass, kMainTitle))
            SwitchToThisWindow(hMain, TRUE);
        exit(0);
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
