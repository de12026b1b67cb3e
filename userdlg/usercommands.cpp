// The user list's context menu and its commands New, Edit, Refresh, Delete.
#include "res/resource.h"
#include "userdlg/rolvanedlg.h"

void CrolvaneDlg::OnRClickUserList(NMHDR* pNMHDR, LRESULT* pResult) {
    *pResult = 0;
    CMenu menu;
    if (!menu.LoadMenu(IDR_MENU_USER)) return;
    CMenu* pPopup = menu.GetSubMenu(0);
    if (!pPopup) return;

    const int nOwnLevel = get_user_group(nullptr);
    if (nOwnLevel == 0) return;

    // Where the click was, or the row that Shift+F10 or the Menu key asked
    // about.
    const NMITEMACTIVATE* pItem = reinterpret_cast<NMITEMACTIVATE*>(pNMHDR);
    CPoint point(pItem->ptAction.x, pItem->ptAction.y);
    m_userList.ClientToScreen(&point);
    SetForegroundWindow();

    constexpr UINT nGrey = MF_BYCOMMAND | MF_GRAYED | MF_DISABLED;
    const int nItem = pItem->iItem;
    if (nItem == -1) {
        pPopup->EnableMenuItem(ID_USER_EDIT, nGrey);
        pPopup->EnableMenuItem(ID_USER_DELETE, nGrey);
        pPopup->EnableMenuItem(ID_USER_CHANGEPWD, nGrey);
        pPopup->EnableMenuItem(ID_USER_CLEARPWD, nGrey);
    } else {
        if (nItem != m_curRow) {
            m_curRow = nItem;
            ShowRowDetails();
        }
        // Change password stays offered on every row: it asks for the old
        // password.
        if (static_cast<uint32_t>(GetRowLevel()) >= static_cast<uint32_t>(nOwnLevel) &&
            GetCurUserName() != QORVEL_USER) {
            pPopup->EnableMenuItem(ID_USER_EDIT, nGrey);
            pPopup->EnableMenuItem(ID_USER_DELETE, nGrey);
            pPopup->EnableMenuItem(ID_USER_CLEARPWD, nGrey);
        }
    }

    pPopup->TrackPopupMenu(TPM_LEFTALIGN | TPM_RIGHTBUTTON, point.x, point.y, this);
    menu.DestroyMenu();
}

void CrolvaneDlg::OnNewUser() {
    m_editMode = ModeNew;
    m_curRow = m_userList.GetItemCount();
    ApplyEditMode();
}

void CrolvaneDlg::OnEditUser() {
    m_editMode = ModeEdit;
    ApplyEditMode();
}

void CrolvaneDlg::OnRefreshList() {
    FillUserList();
}

void CrolvaneDlg::OnDeleteUser() {
    // Also no row after a new user was given up: m_curRow is the row count.
    if (m_curRow < 0 || m_curRow >= m_userList.GetItemCount()) return;
    // The menu's exemption for qorvel does not reach this far.
    if (static_cast<uint32_t>(GetRowLevel()) >= static_cast<uint32_t>(get_user_group(nullptr))) {
        MessageBox("权限不够..不能删除此级别用户..", "警告", MB_OK | MB_ICONWARNING);
        return;
    }
    char szName[36] = {};
    m_userList.GetItemText(m_curRow, 1, szName, sizeof(szName));
    CString strQuestion;
    strQuestion.Format(AfxTr("确认删除此用户吗？用户名：%s"), szName);
    if (GetCurUserName() == szName) {
        MessageBox("不能删除自己..", "警告", MB_OK | MB_ICONWARNING);
        return;
    }
    if (MessageBox(strQuestion, "提示", MB_YESNO | MB_ICONINFORMATION) != IDYES) return;

    if (del_user(szName) != 0) {
        MessageBox("删除用户失败..", "错误", MB_OK | MB_ICONERROR);
        return;
    }
    MessageBox("删除用户成功..", "提示", MB_OK | MB_ICONINFORMATION);
    // The other rows keep their numbers until the next reload.
    m_userList.DeleteItem(m_curRow);
    --m_curRow;
    ShowRowDetails();
    ApplyEditMode();
}
