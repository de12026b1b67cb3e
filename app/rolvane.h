// The application object: start-up and the single-instance guard.
#pragma once

#include "ui/framework.h"

class CrolvaneApp : public CWinApp {
public:
    CrolvaneApp();

    BOOL InitInstance() override;
    int ExitInstance() override;

    DECLARE_MESSAGE_MAP()
};

extern CrolvaneApp theApp;

// Names by which copies of the program find each other on the desktop.
inline constexpr const char* kRegistryKey = "Motor Control User Manage For Varnock.";
inline constexpr const char* kInstanceMutex = "Motor Control User Config For Varnock.version 1.0";
inline constexpr const char* kDialogClass = "#32770";
inline constexpr const char* kLoginTitle = "登陆 -用户权限管理";
inline constexpr const char* kMainTitle = "用户权限管理 v2.0";
