// The about box.
#pragma once

#include "ui/framework.h"

class CAboutDlg : public CDialogEx {
public:
    CAboutDlg();

protected:
    DECLARE_MESSAGE_MAP()
};
