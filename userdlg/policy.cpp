// The account policy at the window: the idle lock, a password to be
// changed before anything else, one about to expire, and the rules a new
// password broke. With the policy's defaults none of this shows.
#include <algorithm>

#include "res/resource.h"
#include "userdlg/rolvanedlg.h"

void CrolvaneDlg::StartIdleLock() {
    const int nMinutes = get_policy("idle_lock_minutes");
    m_dwIdleLockMs = nMinutes > 0 ? DWORD(nMinutes) * 60000u : 0u;
    // Idle time counts from the login at the earliest.
    m_dwIdleFrom = GetTickCount();
    if (m_dwIdleLockMs != 0) SetTimer(IDT_IDLE_LOCK, kIdleCheckMs, nullptr);
}

void CrolvaneDlg::OnTimer(UINT_PTR nIDEvent) {
    if (nIDEvent != IDT_IDLE_LOCK || m_dwIdleLockMs == 0) return;
    LASTINPUTINFO lii{sizeof(LASTINPUTINFO), 0};
    if (!GetLastInputInfo(&lii)) return;
    const DWORD dwNow = GetTickCount();
    if (std::min(dwNow - lii.dwTime, dwNow - m_dwIdleFrom) >= m_dwIdleLockMs) LockAfterIdle();
}

void CrolvaneDlg::LockAfterIdle() {
    // What is open above the window ends first, as its close would; the
    // next look finds the window alone, and no input since.
    if (AfxEndModalWindows(this)) return;
    KillTimer(IDT_IDLE_LOCK);
    m_dwIdleLockMs = 0;
    // The store forgets who logged in; the next login may be anybody.
    keyward_stop();
    keyward_start();
    // As at the start, the items and the list are read before the login;
    // an edit under way is given up, its password boxes emptied.
    BuildPermissionPanel();
    FillUserList();
    OnCancel();
    GetDlgItem(IDC_STATIC_CURUSER)->SetWindowText(AfxTr("当前用户："));
    ShowWindow(SW_HIDE);
    PostMessage(WM_START_LOGIN, 0, 0);
}

// The own row becomes the current one (the list read again if it lacks
// it, as it was read before the login), then Change password as its menu
// entry gives it.
void CrolvaneDlg::ChangeOwnPassword() {
    const CString strSelf = get_cur_user();
    const auto findSelf = [&] {
        for (int i = 0; i < m_userList.GetItemCount(); ++i)
            if (m_userList.GetItemText(i, 1) == strSelf) return i;
        return -1;
    };
    int nRow = findSelf();
    if (nRow < 0) {
        FillUserList();
        nRow = findSelf();
    }
    if (nRow >= 0) {
        m_curRow = nRow;
        ShowRowDetails();
    }
    MessageBox("您的密码由他人设置，请先修改密码后再使用.", "提示", MB_OK | MB_ICONINFORMATION);
    OnChangePassword();
}

void CrolvaneDlg::WarnOfExpiry() {
    const int nDays = get_pwd_days_left(nullptr);
    if (nDays < 0 || nDays == KEYWARD_NO_EXPIRY) return;
    // warn_days = 0 asks for no warning.
    const int nWarnDays = get_policy("warn_days");
    if (nWarnDays <= 0 || nDays > nWarnDays) return;
    CString strText;
    strText.Format(AfxTr("您的密码将在%d天后过期，请及时修改密码."), nDays);
    MessageBox(strText, "提示", MB_OK | MB_ICONINFORMATION);
}

void CrolvaneDlg::RefusePasswordPolicy(int nFocusId) {
    CString strText;
    strText.Format(AfxTr("密码不符合安全策略：至少%d位，包含%d类字符.."), get_policy("min_length"),
                   get_policy("min_classes"));
    RefuseInput(strText, nFocusId, TRUE);
}
