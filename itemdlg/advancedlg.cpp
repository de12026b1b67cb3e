#include "itemdlg/advancedlg.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "res/resource.h"

namespace {

constexpr UINT kShowWarning = 1;

// Posted texts must outlive the post.
const char kDuplicate[] = "不能重复，请检查..";
const char kTooLong[] = "最大长度32，请检查..";
const char kAddFailed[] = "增加权限项失败，请检查..";

// A name or title holds at most 31 bytes.
constexpr int kMaxItemText = KEYWARD_MAX_TEXT;

constexpr int kColumnName = 1;
constexpr int kColumnTitle = 2;

}  // namespace

IMPLEMENT_DYNAMIC(CAdvanceDlg, CDialogEx)

BEGIN_MESSAGE_MAP(CAdvanceDlg, CDialogEx)
ON_WM_CLOSE()
ON_WM_HELPINFO()
ON_COMMAND(ID_USER_DELETE, OnDeleteLastItem)
ON_MESSAGE(WM_SHOW_MESSAGE, OnShowMessage)
ON_MESSAGE(WM_CELL_CHANGED, OnCellChanged)
ON_NOTIFY(NM_RCLICK, IDC_ITEM_LIST, OnRClickItemList)
END_MESSAGE_MAP()

CAdvanceDlg::CAdvanceDlg(CWnd* pParent)
    : CDialogEx(IDD_ADVANCE, pParent), m_nItemCount(0), m_bModified(FALSE) {}

CAdvanceDlg::~CAdvanceDlg() = default;

void CAdvanceDlg::DoDataExchange(CDataExchange* pDX) {
    CDialogEx::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_ITEM_LIST, m_list);
}

BOOL CAdvanceDlg::OnInitDialog() {
    CDialogEx::OnInitDialog();
    // The editor shows the program's icon, as the main window does.
    if (CWinApp* pApp = AfxGetApp()) {
        const HICON hIcon = pApp->LoadIcon(IDR_MAINFRAME);
        SetIcon(hIcon, TRUE);
        SetIcon(hIcon, FALSE);
    }
    SetBackgroundColor(RGB(244, 244, 244));

    // The dialog checks every change before the list may write it.
    m_list.SetAutoApply(FALSE);
    m_list.InsertColumn(0, "序号", LVCFMT_LEFT);
    m_list.InsertColumn(1, "名称", LVCFMT_LEFT);
    m_list.InsertColumn(2, "标题", LVCFMT_LEFT);
    CRect rect;
    m_list.GetWindowRect(&rect);
    const int nWidth = rect.Width();
    m_list.SetColumnWidth(0, nWidth / 6);
    m_list.SetColumnWidth(1, nWidth / 3);
    m_list.SetColumnWidth(2, nWidth / 3 + 25);
    m_list.SetExtendedStyle(LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);

    LoadItems();
    return TRUE;
}

void CAdvanceDlg::LoadItems() {
    // A store reporting a negative count lists nothing.
    m_nItemCount = std::max(0, get_limit_list(nullptr));
    m_list.DeleteAllItems();
    if (m_nItemCount > 0) {
        std::vector<LimitRecord> records(static_cast<size_t>(m_nItemCount));
        get_limit_list(records.data());
        for (int i = 0; i < m_nItemCount; ++i) {
            const LimitRecord& rec = records[static_cast<size_t>(i)];
            char szName[sizeof(rec.name) + 1] = {};
            char szTitle[sizeof(rec.title) + 1] = {};
            std::memcpy(szName, rec.name, sizeof(rec.name));  // always terminated
            std::memcpy(szTitle, rec.title, sizeof(rec.title));
            CString strNo;
            strNo.Format("%d", i + 1);
            m_list.InsertItem(i, szName);
            m_list.SetItemText(i, 0, strNo);
            m_list.SetItemText(i, kColumnName, szName);
            m_list.SetItemText(i, kColumnTitle, szTitle);
        }
    }
    AddEntryRow(m_nItemCount);
}

// A full list (as many items as a mask has bits) has no entry row.
void CAdvanceDlg::AddEntryRow(int nRow) {
    if (nRow >= KEYWARD_MAX_LIMITS) return;
    m_list.InsertItem(nRow, "");
    m_list.SetItemText(nRow, 0, "*");
    m_list.SetItemText(nRow, kColumnName, "");
    m_list.SetItemText(nRow, kColumnTitle, "");
    m_list.SetEditCell(nRow, kColumnName);
    m_list.SetEditCell(nRow, kColumnTitle);
}

bool CAdvanceDlg::IsDuplicate(int nColumn, const CString& strText) {
    for (int i = 0; i < m_nItemCount; ++i)
        if (m_list.GetItemText(i, nColumn) == strText) return true;
    return false;
}

int CAdvanceDlg::CheckRight(LPCTSTR pszItemName) {
    if (chk_user_limit(pszItemName, nullptr) != 0) return 1;
    char szTitle[33] = {};  // the store fills 32 bytes; one more keeps it terminated
    get_limit_info(pszItemName, szTitle);
    CString strMsg;
    strMsg.Format(AfxTr("无此权限..请联系系统管理员,确认该用户是否有 '%s' 权限"), szTitle);
    MessageBox(strMsg, "提示", MB_ICONINFORMATION);
    return 0;
}

LRESULT CAdvanceDlg::OnCellChanged(WPARAM wParam, LPARAM lParam) {
    if (lParam == LPARAM(m_list.GetSafeHwnd())) OnCellEdited(LOWORD(wParam), HIWORD(wParam));
    return 0;
}

// Runs while the list is still ending the edit; refusals are posted so their
// boxes come after it.
void CAdvanceDlg::OnCellEdited(int nRow, int nColumn) {
    CString strText = m_list.GetEditText();
    strText.Trim();  // for the checks only; the cell gets the text as typed
    if (!CheckRight(SYS_LIMIT_NAME)) return;
    if (IsDuplicate(nColumn, strText)) {
        PostMessage(WM_SHOW_MESSAGE, kShowWarning, LPARAM(kDuplicate));
        return;
    }
    if (strText.GetLength() > kMaxItemText) {
        PostMessage(WM_SHOW_MESSAGE, kShowWarning, LPARAM(kTooLong));
        return;
    }
    m_list.ApplyPendingEdit();

    // The item is added once both cells hold text, whichever came second.
    const CString strName = m_list.GetItemText(nRow, kColumnName);
    const CString strTitle = m_list.GetItemText(nRow, kColumnTitle);
    if (strName.IsEmpty() || strTitle.IsEmpty()) return;
    if (add_limit(strName, strTitle) < 0) {
        PostMessage(WM_SHOW_MESSAGE, kShowWarning, LPARAM(kAddFailed));
        return;
    }
    m_bModified = TRUE;
    CString strNo;
    strNo.Format("%d", m_nItemCount + 1);
    m_list.SetItemText(m_nItemCount, 0, strNo);
    m_list.SetReadOnlyCell(m_nItemCount, kColumnName);
    m_list.SetReadOnlyCell(m_nItemCount, kColumnTitle);
    ++m_nItemCount;
    AddEntryRow(m_nItemCount);
}

LRESULT CAdvanceDlg::OnShowMessage(WPARAM wParam, LPARAM lParam) {
    if ((wParam & 0xF) == kShowWarning)
        MessageBox(reinterpret_cast<const char*>(lParam), "Information", MB_ICONWARNING);
    return 0;
}

void CAdvanceDlg::OnRClickItemList(NMHDR* pNMHDR, LRESULT* pResult) {
    CMenu menu;
    if (!menu.LoadMenu(IDR_MENU_USER)) return;
    CMenu* pPopup = menu.GetSubMenu(0);
    if (!pPopup) return;
    if (get_user_group(nullptr) == 0) return;
    const NMITEMACTIVATE* pItem = reinterpret_cast<const NMITEMACTIVATE*>(pNMHDR);
    if (pItem->iItem == -1) return;

    // Where the click was, or the row that the menu keys asked about.
    CPoint point(pItem->ptAction.x, pItem->ptAction.y);
    m_list.ClientToScreen(&point);
    SetForegroundWindow();
    // The user menu with only its delete entry, which acts on the last item.
    pPopup->RemoveMenu(ID_USER_NEW, MF_BYCOMMAND);
    pPopup->RemoveMenu(ID_USER_EDIT, MF_BYCOMMAND);
    pPopup->RemoveMenu(ID_USER_REFRESH, MF_BYCOMMAND);
    pPopup->RemoveMenu(ID_USER_CHANGEPWD, MF_BYCOMMAND);
    pPopup->RemoveMenu(ID_USER_CLEARPWD, MF_BYCOMMAND);
    pPopup->ModifyMenu(ID_USER_DELETE, MF_BYCOMMAND, ID_USER_DELETE, "删除最后一个权限项");
    pPopup->TrackPopupMenu(TPM_LEFTALIGN | TPM_RIGHTBUTTON, point.x, point.y, this);
    *pResult = 0;
    menu.DestroyMenu();
}

void CAdvanceDlg::OnDeleteLastItem() {
    if (m_nItemCount <= 0) return;
    if (!CheckRight(SYS_LIMIT_NAME)) return;
    const int nLast = m_nItemCount - 1;
    const CString strName = m_list.GetItemText(nLast, kColumnName);
    if (strName == SYS_LIMIT_NAME) {
        MessageBox("您不能删除此权限项.", "错误", MB_ICONINFORMATION);
        return;
    }
    const CString strTitle = m_list.GetItemText(nLast, kColumnTitle);
    CString strAsk;
    strAsk.Format(AfxTr("您确认要删除权限项:%s-%s吗?"), strName.GetString(), strTitle.GetString());
    if (MessageBox(strAsk, "提示", MB_YESNO | MB_ICONINFORMATION) == IDNO) return;
    if (del_limit(nLast) != 0) {
        MessageBox("删除权限项失败，请检查.", "错误", MB_ICONINFORMATION);
        return;
    }
    m_bModified = TRUE;
    const bool bWasFull = m_nItemCount >= KEYWARD_MAX_LIMITS;
    --m_nItemCount;
    m_list.DeleteItem(m_nItemCount);
    if (bWasFull) {
        AddEntryRow(m_nItemCount);
    } else {
        // The entry row moved up into the deleted item's place.
        m_list.SetEditCell(m_nItemCount, kColumnName);
        m_list.SetEditCell(m_nItemCount, kColumnTitle);
    }
}

BOOL CAdvanceDlg::PreTranslateMessage(MSG* pMsg) {
    if (pMsg->message == WM_KEYDOWN && pMsg->wParam == VK_F5) LoadItems();
    return CDialogEx::PreTranslateMessage(pMsg);
}

BOOL CAdvanceDlg::OnHelpInfo(HELPINFO*) {
    return TRUE;
}

// Enter and Escape keep the editor open; only the close box ends it.
void CAdvanceDlg::OnOK() {}

void CAdvanceDlg::OnCancel() {}

void CAdvanceDlg::OnClose() {
    if (CWnd* pOwner = GetParent(); pOwner && m_bModified)
        pOwner->PostMessage(WM_LIMITS_CHANGED, 0, 0);
    EndDialog(IDCANCEL);
    CDialogEx::OnClose();
}
