#include "userdlg/rolvanedlg.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "itemdlg/advancedlg.h"
#include "res/resource.h"
#include "shelldlg/aboutdlg.h"
#include "shelldlg/iconpaint.h"
#include "shelldlg/logindlg.h"

const char* LevelText(int level, char* szOther) {
    if (level >= 0 && level < KEYWARD_LEVEL_COUNT) return g_levelText[level];
    std::snprintf(szOther, 32, AfxTr("无效级别(%d)"), level);
    return szOther;
}

// Not snprintf("%02d"): at 100,000 rows that took a third of the list's fill.
void RowNumberText(int number, char* szText) {
    char szDigits[12];
    int n = 0;
    do {
        szDigits[n++] = static_cast<char>('0' + number % 10);
        number /= 10;
    } while (number != 0);
    if (n == 1) szDigits[n++] = '0';
    for (int i = 0; i < n; ++i) szText[i] = szDigits[n - 1 - i];
    szText[n] = '\0';
}

CrolvaneDlg::CrolvaneDlg(CWnd* pParent)
    : CDialogEx(IDD_ROLVANE_DIALOG, pParent),
      m_permBoxes{},
      m_permItems{},
      m_editMode(ModeBrowse),
      m_curRow(-1),
      m_permCount(0),
      m_curUserName{},
      m_dwIdleLockMs(0),
      m_dwIdleFrom(0) {
    m_hIcon = AfxGetApp() ? AfxGetApp()->LoadIcon(IDR_MAINFRAME) : nullptr;
}

CrolvaneDlg::~CrolvaneDlg() {
    m_boxFont.DeleteObject();
}

void CrolvaneDlg::DoDataExchange(CDataExchange* pDX) {
    CDialogEx::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_USER_LIST, m_userList);
}

BEGIN_MESSAGE_MAP(CrolvaneDlg, CDialogEx)
ON_WM_CLOSE()
ON_WM_HELPINFO()
ON_WM_CTLCOLOR()
ON_WM_SYSCOMMAND()
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_MESSAGE(WM_START_LOGIN, OnStartLogin)
ON_BN_CLICKED(IDC_BTN_ITEMS, OnPermissionItems)
ON_MESSAGE(WM_LIMITS_CHANGED, OnLimitsChanged)
ON_BN_CLICKED(IDC_CHECK_ALL, OnSelectAll)
ON_NOTIFY(LVN_ITEMCHANGED, IDC_USER_LIST, OnUserListItemChanged)
ON_NOTIFY(NM_RCLICK, IDC_USER_LIST, OnRClickUserList)
ON_COMMAND(ID_USER_NEW, OnNewUser)
ON_COMMAND(ID_USER_EDIT, OnEditUser)
ON_COMMAND(ID_USER_DELETE, OnDeleteUser)
ON_COMMAND(ID_USER_REFRESH, OnRefreshList)
ON_COMMAND(ID_USER_CHANGEPWD, OnChangePassword)
ON_COMMAND(ID_USER_CLEARPWD, OnClearPassword)
ON_WM_TIMER()
END_MESSAGE_MAP()

BOOL CrolvaneDlg::OnInitDialog() {
    CDialogEx::OnInitDialog();

    if (CMenu* pSysMenu = GetSystemMenu(FALSE)) {
        CString strAboutMenu;
        strAboutMenu.LoadString(IDS_ABOUTBOX);
        if (!strAboutMenu.IsEmpty()) {
            pSysMenu->AppendMenu(MF_SEPARATOR);
            pSysMenu->AppendMenu(MF_STRING, IDM_ABOUTBOX, strAboutMenu);
        }
    }

    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    setbank_start();
    trailbook_start();
    keyward_start();

    add_limit(SYS_LIMIT_NAME, SYS_LIMIT_TITLE);

    CComboBox* pLevel = static_cast<CComboBox*>(GetDlgItem(IDC_COMBO_LEVEL));
    pLevel->ResetContent();
    for (int i = 1; i < KEYWARD_LEVEL_COUNT; ++i) pLevel->InsertString(i - 1, g_levelText[i]);
    pLevel->SetCurSel(0);

    m_userList.InsertColumn(0, "序号", LVCFMT_LEFT);
    m_userList.InsertColumn(1, "用户名", LVCFMT_LEFT);
    m_userList.InsertColumn(2, "级别", LVCFMT_LEFT);
    m_userList.InsertColumn(3, "权限", LVCFMT_LEFT);
    CRect rect;
    m_userList.GetWindowRect(&rect);
    const int nWidth = rect.Width();
    m_userList.SetColumnWidth(0, nWidth / 6 - 50);
    m_userList.SetColumnWidth(1, nWidth / 3 - 10);
    m_userList.SetColumnWidth(2, nWidth / 3 - 80);
    m_userList.SetColumnWidth(3, nWidth / 3 + 20);
    m_userList.SetExtendedStyle(LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);

    m_boxFont.DeleteObject();
    m_boxFont.CreatePointFont(90, "宋体");

    BuildPermissionPanel();
    FillUserList();
    ApplyEditMode();

    PostMessage(WM_START_LOGIN, 0, 0);
    return FALSE;
}

LRESULT CrolvaneDlg::OnStartLogin(WPARAM, LPARAM) {
    // A store without users (the first start) has nobody to log in: say how
    // the first administrator is made, here, on the terminal and in the log.
    if (get_user_list(nullptr) == 0) {
        AfxLogNotice(
            "the account store has no users yet; create the first administrator with: "
            "keyward init --admin NAME");
        MessageBox(
            "账户库中还没有用户。请在终端运行下面的命令创建第一个管理员"
            "（NAME 换成管理员的用户名，命令会要求输入两次密码）：\n\n"
            "keyward init --admin NAME",
            "提示", MB_OK | MB_ICONINFORMATION);
    }
    CLoginDlg dlg;
    if (dlg.DoModal() == IDOK) {
        // The level first, then the name.
        const int nLevel = get_user_group(nullptr);
        char szOther[32];
        const char* szLevel = LevelText(nLevel, szOther);
        CString strStatus;
        strStatus.Format(AfxTr("当前用户：%s   级别：%s"), get_cur_user(), szLevel);
        GetDlgItem(IDC_STATIC_CURUSER)->SetWindowText(strStatus);
        // Back from an idle lock, the window shows again.
        if (!IsWindowVisible()) ShowWindow(SW_SHOW);
        if (dlg.m_bMustChangePwd)
            ChangeOwnPassword();
        else
            WarnOfExpiry();
        StartIdleLock();
    } else {
        OnClose();
    }
    return 0;
}

// The panel follows the editor's changes through WM_LIMITS_CHANGED, which
// the editor posts as it closes.
void CrolvaneDlg::OnPermissionItems() {
    if (chk_user_limit(SYS_LIMIT_NAME, nullptr) == 0) {
        MessageBox("权限不够，不能设置权限项.", "提示", MB_ICONINFORMATION);
        return;
    }
    CAdvanceDlg dlg;
    dlg.DoModal();
}

void CrolvaneDlg::FillUserList() {
    m_userList.DeleteAllItems();
    const int n = get_user_list(nullptr);
    if (n <= 0) return;
    std::vector<UserRecord> records(static_cast<size_t>(n));
    get_user_list(records.data());
    for (int i = 0; i < n; ++i) {
        const UserRecord& rec = records[static_cast<size_t>(i)];
        char szNumber[16];
        RowNumberText(i + 1, szNumber);
        char szName[sizeof(rec.name) + 1] = {};
        std::memcpy(szName, rec.name, sizeof(rec.name));  // always terminated
        char szOther[32];
        char szBits[33];
        MaskToBitText(rec.mask, szBits);
        m_userList.InsertItem(i, szNumber);
        m_userList.SetItemText(i, 0, szNumber);
        m_userList.SetItemText(i, 1, szName);
        m_userList.SetItemText(i, 2, LevelText(rec.level, szOther));
        m_userList.SetItemText(i, 3, szBits);
    }
    records.clear();
    if (m_curRow < 0 || m_curRow >= n) m_curRow = 0;
    ShowRowDetails();
}

void CrolvaneDlg::ShowRowDetails() {
    if (m_curRow == -1 || m_curRow >= m_userList.GetItemCount()) return;
    char szBuffer[36] = {};
    m_userList.GetItemText(m_curRow, 1, szBuffer, sizeof(szBuffer));
    GetDlgItem(IDC_EDIT_NAME)->SetWindowText(szBuffer);
    static_cast<CComboBox*>(GetDlgItem(IDC_COMBO_LEVEL))->SetCurSel(GetRowLevel() - 1);
    std::memset(szBuffer, 0, sizeof(szBuffer));
    m_userList.GetItemText(m_curRow, 3, szBuffer, sizeof(szBuffer));
    const uint32_t mask = BitTextToMask(szBuffer);
    static_cast<CButton*>(GetDlgItem(IDC_CHECK_ALL))->SetCheck(BST_UNCHECKED);
    for (int i = 0; i < m_permCount; ++i) {
        if (m_permBoxes[i])
            m_permBoxes[i]->SetCheck((mask >> i) & 1u ? BST_CHECKED : BST_UNCHECKED);
    }
}

int CrolvaneDlg::GetRowLevel() {
    if (m_curRow == -1) return 1;
    char szBuffer[36] = {};
    m_userList.GetItemText(m_curRow, 2, szBuffer, sizeof(szBuffer));
    for (int i = 0; i < KEYWARD_LEVEL_COUNT; ++i)
        if (std::strcmp(szBuffer, g_levelText[i]) == 0) return i;
    return 1;
}

CString CrolvaneDlg::GetCurUserName() {
    if (get_cur_users(m_curUserName) != 0) return CString("");
    m_curUserName[sizeof(m_curUserName) - 1] = '\0';
    return CString(m_curUserName);
}

void CrolvaneDlg::MaskToBitText(uint32_t mask, char* szText) {
    int n = 0;
    for (; mask != 0; mask >>= 1) szText[n++] = (mask & 1u) ? '1' : '0';
    const int nPad = m_permCount < KEYWARD_MAX_LIMITS ? m_permCount : KEYWARD_MAX_LIMITS;
    while (n < nPad) szText[n++] = '0';
    szText[n] = '\0';
}

uint32_t CrolvaneDlg::BitTextToMask(const char* szText) {
    uint32_t mask = 0;
    for (int i = static_cast<int>(std::strlen(szText)) - 1; i >= 0; --i)
        mask = mask * 2 + static_cast<uint32_t>(szText[i] - '0');
    return mask;
}

void CrolvaneDlg::OnUserListItemChanged(NMHDR*, LRESULT* pResult) {
    *pResult = 0;
    CListCtrl::POSITION pos = m_userList.GetFirstSelectedItemPosition();
    if (!pos) return;
    const int nRow = m_userList.GetNextSelectedItem(pos);
    if (nRow != m_curRow) {
        m_curRow = nRow;
        ShowRowDetails();
    }
}

void CrolvaneDlg::ApplyEditMode() {
    const bool bNew = m_editMode == ModeNew;
    const bool bEdit = m_editMode == ModeEdit;
    const bool bBrowse = m_editMode == ModeBrowse;
    const bool bPassword = m_editMode == ModePassword;

    const int nShowOld = (bNew || bPassword) ? SW_SHOW : SW_HIDE;
    GetDlgItem(IDC_STATIC_PWD)->ShowWindow(nShowOld);
    GetDlgItem(IDC_EDIT_PWD)->ShowWindow(nShowOld);
    const int nShowNew = bPassword ? SW_SHOW : SW_HIDE;
    GetDlgItem(IDC_EDIT_NEWPWD)->ShowWindow(nShowNew);
    GetDlgItem(IDC_STATIC_NEWPWD)->ShowWindow(nShowNew);
    GetDlgItem(IDC_EDIT_CONFIRM)->ShowWindow(nShowNew);
    GetDlgItem(IDC_STATIC_CONFIRM)->ShowWindow(nShowNew);

    const BOOL bForm = bNew || bEdit;
    GetDlgItem(IDC_EDIT_NAME)->EnableWindow(bForm);
    GetDlgItem(IDC_COMBO_LEVEL)->EnableWindow(bForm);
    GetDlgItem(IDC_CHECK_ALL)->EnableWindow(bForm);
    GetDlgItem(IDOK)->EnableWindow(!bBrowse);
    GetDlgItem(IDCANCEL)->EnableWindow(!bBrowse);
    GetDlgItem(IDC_BTN_ITEMS)->EnableWindow(bBrowse);
    GetDlgItem(IDC_USER_LIST)->EnableWindow(bBrowse);

    GetDlgItem(IDC_EDIT_PWD)->SetWindowText("");
    GetDlgItem(IDC_EDIT_NEWPWD)->SetWindowText("");
    GetDlgItem(IDC_EDIT_CONFIRM)->SetWindowText("");

    for (int i = 0; i < m_permCount; ++i)
        if (m_permBoxes[i]) m_permBoxes[i]->EnableWindow(bForm);

    CEdit* pName = static_cast<CEdit*>(GetDlgItem(IDC_EDIT_NAME));
    switch (m_editMode) {
        case ModeNew:
            pName->SetWindowText("");
            pName->SetFocus();
            static_cast<CComboBox*>(GetDlgItem(IDC_COMBO_LEVEL))->SetCurSel(0);
            static_cast<CButton*>(GetDlgItem(IDC_CHECK_ALL))->SetCheck(BST_UNCHECKED);
            for (int i = 0; i < m_permCount; ++i)
                if (m_permBoxes[i]) m_permBoxes[i]->SetCheck(BST_UNCHECKED);
            break;
        case ModeEdit:
            pName->SetFocus();
            pName->SetSel(0, -1);
            break;
        case ModePassword:
            GetDlgItem(IDC_EDIT_PWD)->SetFocus();
            break;
        case ModeBrowse:
            break;
    }
}

void CrolvaneDlg::RefuseInput(const char* szText, int nFocusId, BOOL bSelect) {
    MessageBox(szText, "警告", MB_OK | MB_ICONWARNING);
    CEdit* pEdit = static_cast<CEdit*>(GetDlgItem(nFocusId));
    pEdit->SetFocus();
    if (bSelect) pEdit->SetSel(0, -1);
}

void CrolvaneDlg::OnOK() {
    // Save is disabled while browsing; a command that arrives anyway must not
    // write the shown row back.
    if (m_editMode == ModeBrowse) return;
    const int nResult = m_editMode == ModePassword ? SavePassword() : SaveUser();
    if (nResult != 0) {
        m_editMode = ModeBrowse;
        ApplyEditMode();
    }
}

void CrolvaneDlg::OnCancel() {
    m_editMode = ModeBrowse;
    ShowRowDetails();
    ApplyEditMode();
}

void CrolvaneDlg::OnClose() {
    DestroyPermissionPanel();
    keyward_stop();
    trailbook_stop();
    setbank_stop();
    CDialogEx::OnCancel();
}

void CrolvaneDlg::OnSysCommand(UINT nID, LPARAM lParam) {
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg dlgAbout;
        dlgAbout.DoModal();
    } else if ((nID & 0xFFF0) == SC_CLOSE) {
        PostMessage(WM_CLOSE, 0, 0);
    } else {
        CDialogEx::OnSysCommand(nID, lParam);
    }
}

BOOL CrolvaneDlg::PreTranslateMessage(MSG* pMsg) {
    if (pMsg->message == WM_KEYDOWN) {
        if (pMsg->wParam == VK_F5) {
            BuildPermissionPanel();
            FillUserList();
            ApplyEditMode();
        } else if (pMsg->wParam == VK_ESCAPE) {
            OnCancel();
        }
    }
    return CDialogEx::PreTranslateMessage(pMsg);
}

HBRUSH CrolvaneDlg::OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor) {
    HBRUSH hbr = CDialogEx::OnCtlColor(pDC, pWnd, nCtlColor);
    if (pWnd && pWnd->GetDlgCtrlID() == IDC_STATIC_CURUSER) {
        pDC->SetBkMode(TRANSPARENT);
        pDC->SetTextColor(RGB(255, 0, 255));
        return static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
    }
    return hbr;
}

BOOL CrolvaneDlg::OnHelpInfo(HELPINFO*) {
    return TRUE;
}

void CrolvaneDlg::OnPaint() {
    if (IsIconic())
        PaintMinimizedIcon(this, m_hIcon);
    else
        CDialogEx::OnPaint();
}

HCURSOR CrolvaneDlg::OnQueryDragIcon() {
    return m_hIcon;
}
