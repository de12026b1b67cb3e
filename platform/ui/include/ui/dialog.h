// Dialogs built from templates, run modally in a nested event loop.
#pragma once

#include "ui/wnd.h"

class CDataExchange {
public:
    CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate)
        : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}
    BOOL m_bSaveAndValidate;
    CWnd* m_pDlgWnd;
};

// Binds the member control object to the template control nID.
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);

class CDialog : public CWnd {
    DECLARE_DYNAMIC(CDialog)

public:
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    ~CDialog() override;

    // Creates the window from the template, runs OnInitDialog, shows it and
    // runs a nested loop until EndDialog; returns EndDialog's code, -1 when
    // the template does not exist.
    virtual INT_PTR DoModal();
    void EndDialog(int nResult);
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);
    UINT GetTemplateId() const { return m_nIDTemplate; }
    BOOL IsModalRunning() const { return m_bInModal; }
    BOOL PreTranslateMessage(MSG* pMsg) override;
    BOOL DestroyWindow() override;

    // The default push button's id (the template's BS_DEFPUSHBUTTON).
    int GetDefID() const;

    // Dialog units -> pixels from the template font.
    void MapDialogRect(RECT* lpRect) const;

protected:
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(CDataExchange* pDX);
    virtual void OnOK();
    virtual void OnCancel();

    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    DECLARE_MESSAGE_MAP()

protected:
    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;

private:
    BOOL CreateFromTemplate();
    BOOL m_bInModal = FALSE;
    BOOL m_bEnded = FALSE;
    int m_nModalResult = -1;
    void* m_pLoop = nullptr;
};

class CDialogEx : public CDialog {
    DECLARE_DYNAMIC(CDialogEx)

public:
    explicit CDialogEx(UINT nIDTemplate, CWnd* pParent = nullptr) : CDialog(nIDTemplate, pParent) {}
    void SetBackgroundColor(COLORREF color, BOOL bRepaint = TRUE);
};
