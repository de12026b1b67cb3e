// The login dialog: account and password, checked by the account store.
#pragma once

#include "ui/framework.h"

class CLoginDlg : public CDialogEx {
public:
    explicit CLoginDlg(CWnd* pParent = nullptr);
    ~CLoginDlg() override;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;

    void OnPaint();
    BOOL OnHelpInfo(HELPINFO* pHelpInfo);
    HCURSOR OnQueryDragIcon();
    void OnLogin();
    void OnExit();

    DECLARE_MESSAGE_MAP()

public:
    // The password was right but must be changed first (the account
    // policy): the dialog ended with IDOK all the same.
    BOOL m_bMustChangePwd;

private:
    HICON m_hIcon;
};
