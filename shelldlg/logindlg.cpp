#include "shelldlg/logindlg.h"

#include "res/resource.h"
#include "shelldlg/iconpaint.h"
#include "store/keyward.h"

namespace {
constexpr const char* kLoginFailed = "登录失败";
constexpr UINT kLoginBoxStyle = MB_OK | MB_ICONINFORMATION;
}  // namespace

CLoginDlg::CLoginDlg(CWnd* pParent) : CDialogEx(IDD_LOGIN, pParent), m_bMustChangePwd(FALSE) {
    m_hIcon = AfxGetApp() ? AfxGetApp()->LoadIcon(IDR_MAINFRAME) : nullptr;
}

CLoginDlg::~CLoginDlg() = default;

void CLoginDlg::DoDataExchange(CDataExchange* pDX) {
    CDialogEx::DoDataExchange(pDX);
}

BEGIN_MESSAGE_MAP(CLoginDlg, CDialogEx)
ON_WM_PAINT()
ON_WM_HELPINFO()
ON_WM_QUERYDRAGICON()
ON_BN_CLICKED(IDC_BTN_LOGIN, OnLogin)
ON_BN_CLICKED(IDCANCEL, OnExit)
END_MESSAGE_MAP()

BOOL CLoginDlg::OnInitDialog() {
    CDialogEx::OnInitDialog();
    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);
    // Its own task-bar button: the login shows before anything else.
    ModifyStyleEx(0, WS_EX_APPWINDOW);
    return FALSE;
}

void CLoginDlg::OnPaint() {
    if (IsIconic())
        PaintMinimizedIcon(this, m_hIcon);
    else
        CDialogEx::OnPaint();
}

BOOL CLoginDlg::OnHelpInfo(HELPINFO*) {
    return TRUE;
}

HCURSOR CLoginDlg::OnQueryDragIcon() {
    return m_hIcon;
}

void CLoginDlg::OnLogin() {
    CEdit* pUser = static_cast<CEdit*>(GetDlgItem(IDC_EDIT_ACCOUNT));
    CEdit* pPwd = static_cast<CEdit*>(GetDlgItem(IDC_EDIT_LOGINPWD));
    CString strUser;
    pUser->GetWindowText(strUser);
    if (strUser.IsEmpty()) {
        MessageBox("用户名不能为空.", kLoginFailed, kLoginBoxStyle);
        pUser->SetFocus();
        return;
    }
    CString strPwd;
    pPwd->GetWindowText(strPwd);
    if (strPwd.IsEmpty()) {
        MessageBox("密码不能为空.", kLoginFailed, kLoginBoxStyle);
        pPwd->SetFocus();
        return;
    }
    const int nResult = login(strUser, strPwd);
    strPwd.SecureEmpty();
    if (nResult == ERR_NO_SUCH_USER) {
        MessageBox("用户名错误.", kLoginFailed, kLoginBoxStyle);
        pUser->SetFocus();
        pUser->SetSel(0, -1);
    } else if (nResult == ERR_BAD_PASSWORD) {
        MessageBox("登录密码错误.", kLoginFailed, kLoginBoxStyle);
        pPwd->SetFocus();
        pPwd->SetSel(0, -1);
    } else if (nResult == ERR_ACCOUNT_LOCKED || nResult == ERR_PASSWORD_EXPIRED) {
        // The account policy's refusals: no other password helps now.
        MessageBox(nResult == ERR_ACCOUNT_LOCKED ? "账户已锁定，请稍后再试或联系管理员."
                                                 : "密码已过期，请联系管理员修改密码.",
                   kLoginFailed, kLoginBoxStyle);
        pUser->SetFocus();
        pUser->SetSel(0, -1);
    } else if (nResult == ERR_MUST_CHANGE_PWD) {
        // Logged in, to change the password before anything else.
        m_bMustChangePwd = TRUE;
        CDialogEx::OnOK();
    } else if (nResult != 0) {
        MessageBox("未知错误，请联系管理员.", kLoginFailed, kLoginBoxStyle);
        pUser->SetFocus();
        pUser->SetSel(0, -1);
    } else {
        CDialogEx::OnOK();
    }
}

void CLoginDlg::OnExit() {
    CDialogEx::OnCancel();
}
