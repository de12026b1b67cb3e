// The main dialog: the user list, the detail form, the editing mode and the
// panel of permission check boxes.
#pragma once

#include "store/keyward.h"
#include "ui/framework.h"

constexpr UINT WM_START_LOGIN = 2025;

// The timer that watches for the account policy's idle lock, and how often
// it looks.
constexpr UINT_PTR IDT_IDLE_LOCK = 1;
constexpr UINT kIdleCheckMs = 1000;

// Texts are counted in bytes of CP936, so a Chinese character counts two.
constexpr int kMaxPasswordBytes = 16;

enum EditMode : int32_t {
    ModeNew = 0,       // entering a new user
    ModeEdit = 1,      // editing the user of m_curRow
    ModeBrowse = 2,    // nothing being edited
    ModePassword = 3,  // changing the password of the user of m_curRow
};

class CrolvaneDlg : public CDialogEx {
public:
    explicit CrolvaneDlg(CWnd* pParent = nullptr);
    ~CrolvaneDlg() override;

    void ApplyEditMode();
    void FillUserList();
    void ShowRowDetails();
    int GetRowLevel();
    CString GetCurUserName();
    // szText holds at least 33 bytes.
    void MaskToBitText(uint32_t mask, char* szText);
    uint32_t BitTextToMask(const char* szText);

    void BuildPermissionPanel();
    void DestroyPermissionPanel();
    uint32_t CollectPermissionMask();

    // 1 when saved or changed, 0 when refused or failed (the operator has
    // been told why).
    int SaveUser();
    int SavePassword();

    // The account policy after a login: the idle lock started, the
    // password to be changed first (ModePassword on the own row, with a
    // notice), or a warning that it expires soon.
    void StartIdleLock();
    void ChangeOwnPassword();
    void WarnOfExpiry();
    // After the idle time without input: the window hides behind the login
    // window again, the logged-in user forgotten.
    void LockAfterIdle();

    virtual void OnClose();

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL PreTranslateMessage(MSG* pMsg) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;

    BOOL OnHelpInfo(HELPINFO* pHelpInfo);
    HBRUSH OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor);
    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnPermissionItems();
    LRESULT OnStartLogin(WPARAM wParam, LPARAM lParam);
    LRESULT OnLimitsChanged(WPARAM wParam, LPARAM lParam);
    void OnSelectAll();
    void OnUserListItemChanged(NMHDR* pNMHDR, LRESULT* pResult);
    void OnRClickUserList(NMHDR* pNMHDR, LRESULT* pResult);
    void OnNewUser();
    void OnEditUser();
    void OnDeleteUser();
    void OnRefreshList();
    void OnChangePassword();
    void OnClearPassword();
    void OnTimer(UINT_PTR nIDEvent);

    // A refusal of the input: the warning, then the focus to the field
    // concerned, its whole text selected when bSelect.
    void RefuseInput(const char* szText, int nFocusId, BOOL bSelect);
    // A new password the account policy's rules refused, with the rules'
    // figures from the store; the focus to the box concerned, selected.
    void RefusePasswordPolicy(int nFocusId);

    DECLARE_MESSAGE_MAP()

public:
    HICON m_hIcon;
    CListCtrl m_userList;
    CButton* m_permBoxes[KEYWARD_MAX_LIMITS];
    LimitRecord m_permItems[KEYWARD_MAX_LIMITS];
    EditMode m_editMode;
    int32_t m_curRow;
    int32_t m_permCount;
    CFont m_boxFont;
    char m_curUserName[32];
    DWORD m_dwIdleLockMs;  // the account policy's idle time, 0 for none
    DWORD m_dwIdleFrom;    // the tick count of the login
};

// The level table's text for a level; a level outside the table gets a text
// that says so (written into szOther, at least 32 bytes).
const char* LevelText(int level, char* szOther);

// A row's number as the list shows it: two digits at least ("01"), for a
// number from 0 up (szText at least 12 bytes).
void RowNumberText(int number, char* szText);
