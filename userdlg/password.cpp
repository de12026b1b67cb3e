// Passwords: the change through ModePassword and Save, and the clearing.
#include "res/resource.h"
#include "userdlg/rolvanedlg.h"
#include "userdlg/wipe.h"

void CrolvaneDlg::OnChangePassword() {
    m_editMode = ModePassword;
    ApplyEditMode();
}

int CrolvaneDlg::SavePassword() {
    CString strOld;
    CString strNew;
    CString strConfirm;
    CWipeOnExit wipeOld(strOld);
    CWipeOnExit wipeNew(strNew);
    CWipeOnExit wipeConfirm(strConfirm);

    // An empty old password is what a cleared account has.
    GetDlgItem(IDC_EDIT_PWD)->GetWindowText(strOld);
    if (strOld.GetLength() >= kMaxPasswordBytes) {
        CString strText;
        strText.Format(AfxTr("旧密码长度不能超过%d位.."), kMaxPasswordBytes);
        RefuseInput(strText, IDC_EDIT_PWD, TRUE);
        return 0;
    }
    GetDlgItem(IDC_EDIT_NEWPWD)->GetWindowText(strNew);
    if (strNew.IsEmpty()) {
        RefuseInput("新密码不能为空..", IDC_EDIT_NEWPWD, FALSE);
        return 0;
    }
    if (strNew.GetLength() >= kMaxPasswordBytes) {
        CString strText;
        strText.Format(AfxTr("新密码长度不能超过%d位.."), kMaxPasswordBytes);
        RefuseInput(strText, IDC_EDIT_NEWPWD, TRUE);
        return 0;
    }
    GetDlgItem(IDC_EDIT_CONFIRM)->GetWindowText(strConfirm);
    if (strConfirm != strNew) {
        RefuseInput("两次输入新密码不一致..", IDC_EDIT_CONFIRM, TRUE);
        return 0;
    }

    CString strName;
    GetDlgItem(IDC_EDIT_NAME)->GetWindowText(strName);
    const int nResult = change_pwd(strName, strOld, strNew);
    strOld.SecureEmpty();
    strNew.SecureEmpty();
    strConfirm.SecureEmpty();
    if (nResult == ERR_BAD_PASSWORD) {
        RefuseInput("旧密码输入错误..", IDC_EDIT_PWD, TRUE);
        return 0;
    }
    if (nResult != 0) {
        MessageBox("修改密码失败..", "错误", MB_OK | MB_ICONERROR);
        return 0;
    }
    MessageBox("修改密码成功..", "提示", MB_OK | MB_ICONINFORMATION);
    return 1;
}

void CrolvaneDlg::OnClearPassword() {
    if (m_curRow < 0 || m_curRow >= m_userList.GetItemCount()) return;
    const CString strName = m_userList.GetItemText(m_curRow, 1);
    CString strQuestion;
    strQuestion.Format(AfxTr("确认将用户：%s 密码清空吗?"), strName.GetString());
    // Only a plain Yes clears; a box closed otherwise does nothing.
    if (MessageBox(strQuestion, "确认", MB_YESNO | MB_ICONINFORMATION) != IDYES) return;
    if (clear_pwd(strName) != 0)
        MessageBox("操作失败，请联系管理员...", "Error", MB_OK | MB_ICONERROR);
}
