// Save: a new or changed user from the form, checked against the logged-in
// user's own level and permission items, then written to the store.
#include <cstring>

#include "res/resource.h"
#include "userdlg/rolvanedlg.h"
#include "userdlg/wipe.h"

int CrolvaneDlg::SaveUser() {
    const bool bNew = m_editMode == ModeNew;

    CString strName;
    GetDlgItem(IDC_EDIT_NAME)->GetWindowText(strName);
    if (strName.IsEmpty()) {
        RefuseInput("用户名不能为空..", IDC_EDIT_NAME, FALSE);
        return 0;
    }
    // The store's name field holds 31 bytes of text and the terminator.
    if (strName.GetLength() > KEYWARD_MAX_TEXT) {
        RefuseInput("用户名长度不能超过32位..", IDC_EDIT_NAME, TRUE);
        return 0;
    }

    CString strPwd;
    CWipeOnExit wipePwd(strPwd);
    GetDlgItem(IDC_EDIT_PWD)->GetWindowText(strPwd);
    if (bNew && strPwd.GetLength() >= kMaxPasswordBytes) {
        CString strText;
        strText.Format(AfxTr("密码长度不能超过%d位.."), kMaxPasswordBytes);
        RefuseInput(strText, IDC_EDIT_PWD, TRUE);
        return 0;
    }

    // No selection (a level-0 user shown for editing) reads as level 0.
    const int nLevel = static_cast<CComboBox*>(GetDlgItem(IDC_COMBO_LEVEL))->GetCurSel() + 1;
    if (static_cast<uint32_t>(nLevel) >= static_cast<uint32_t>(get_user_group(nullptr))) {
        RefuseInput("权限不够..不能创建此级别用户..", IDC_EDIT_PWD, FALSE);
        return 0;
    }

    uint32_t oldMask = 0;
    if (!bNew) {
        char szBits[36] = {};
        m_userList.GetItemText(m_curRow, 3, szBits, sizeof(szBits));
        oldMask = BitTextToMask(szBits);
    }
    const uint32_t newMask = CollectPermissionMask();

    // Only items the logged-in user holds may be granted or taken away.
    for (int i = 0; i < m_permCount; ++i) {
        if ((get_user_limit(nullptr) >> i) & 1u) continue;
        const uint32_t touched = bNew ? newMask : (oldMask ^ newMask);
        if (!((touched >> i) & 1u)) continue;
        char szTitle[sizeof(m_permItems[i].title) + 1] = {};
        std::memcpy(szTitle, m_permItems[i].title, sizeof(m_permItems[i].title));
        CString strText;
        strText.Format(AfxTr("当前用户无权限设置此项:  %s "), szTitle);
        RefuseInput(strText, IDC_EDIT_PWD, FALSE);
        return 0;
    }

    const int nRows = m_userList.GetItemCount();
    for (int j = 0; j < nRows; ++j) {
        if (j == m_curRow) continue;
        if (m_userList.GetItemText(j, 1) == strName) {
            RefuseInput("用户名已经存在..", IDC_EDIT_NAME, TRUE);
            return 0;
        }
    }

    if (bNew) {
        const int nResult = add_user(strName, strPwd, nLevel, newMask);
        strPwd.SecureEmpty();
        if (nResult == ERR_PASSWORD_POLICY) {
            RefusePasswordPolicy(IDC_EDIT_PWD);
            return 0;
        }
        if (nResult != 0) {
            MessageBox("增加用户失败..", "错误", MB_OK | MB_ICONERROR);
            return 0;
        }
    } else {
        const CString strCurName = m_userList.GetItemText(m_curRow, 1);
        if (change_user(strCurName, strName, nLevel, newMask) != 0) {
            MessageBox("修改用户失败..", "错误", MB_OK | MB_ICONERROR);
            return 0;
        }
    }

    if (m_curRow == m_userList.GetItemCount()) --m_curRow;
    FillUserList();
    return 1;
}
