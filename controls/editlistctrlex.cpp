#include "controls/editlistctrlex.h"

#include <algorithm>
#include <cstring>

namespace {

// WS_CHILD | WS_BORDER | ES_MULTILINE | ES_AUTOHSCROLL | ES_WANTRETURN, hidden.
constexpr DWORD kEditStyle = WS_CHILD | WS_BORDER | ES_MULTILINE | ES_AUTOHSCROLL | ES_WANTRETURN;
// WS_CHILD | WS_VISIBLE | CBS_DROPDOWNLIST | CBS_OEMCONVERT.
constexpr DWORD kComboStyle = WS_CHILD | WS_VISIBLE | CBS_DROPDOWNLIST | CBS_OEMCONVERT;

// The highest row or column a key can hold; 0xffff is CELL_ANY.
constexpr int kMaxCellIndex = 65534;

UINT RowOf(UINT nKey) {
    return nKey >> 16;
}
UINT ColumnOf(UINT nKey) {
    return nKey & 0xffff;
}
UINT MakeKey(UINT nRow, UINT nColumn) {
    return (nRow << 16) | nColumn;
}

// -1 is "any"; other negatives and indexes a key cannot hold are refused.
bool ToKeyPart(int n, UINT* pPart) {
    if (n == -1) {
        *pPart = CELL_ANY;
        return true;
    }
    if (n < 0 || n > kMaxCellIndex) return false;
    *pPart = UINT(n);
    return true;
}

bool PartsOverlap(UINT a, UINT b) {
    return a == b || a == CELL_ANY || b == CELL_ANY;
}
bool Overlaps(UINT nKey, UINT nPattern) {
    return PartsOverlap(RowOf(nKey), RowOf(nPattern)) &&
           PartsOverlap(ColumnOf(nKey), ColumnOf(nPattern));
}
bool SameColumn(UINT nKey, UINT nPattern) {
    return ColumnOf(nKey) == ColumnOf(nPattern);
}
bool SameRow(UINT nKey, UINT nPattern) {
    return RowOf(nKey) == RowOf(nPattern);
}

// Whether a rule covers a real cell; compared as ints, so a row above what a
// key holds is matched only by an any-row rule.
bool CoversCell(UINT nKey, int nItem, int nSubItem) {
    const bool bRow = RowOf(nKey) == CELL_ANY || int(RowOf(nKey)) == nItem;
    const bool bColumn = ColumnOf(nKey) == CELL_ANY || int(ColumnOf(nKey)) == nSubItem;
    return bRow && bColumn;
}

}  // namespace

IMPLEMENT_DYNAMIC(CEditListCtrlEx, CListCtrl)

BEGIN_MESSAGE_MAP(CEditListCtrlEx, CListCtrl)
ON_WM_LBUTTONDOWN()
ON_WM_RBUTTONDOWN()
ON_WM_VSCROLL()
ON_WM_HSCROLL()
ON_MESSAGE(WM_CELL_ENDEDIT, OnCellEndEdit)
ON_NOTIFY_REFLECT(NM_CLICK, OnClick)
ON_NOTIFY_REFLECT(NM_DBLCLK, OnBeginEdit)
ON_CBN_SELCHANGE(IDC_CELL_COMBO, OnComboSelChange)
END_MESSAGE_MAP()

CEditListCtrlEx::CEditListCtrlEx()
    : m_nEditItem(-1),
      m_nEditSubItem(-1),
      m_nClickItem(-1),
      m_nClickSubItem(-1),
      m_pEdit(nullptr),
      m_pCombo(nullptr),
      m_bAutoApply(TRUE) {}

// The editors are the control's own: the combo box goes first, then the edit.
CEditListCtrlEx::~CEditListCtrlEx() {
    if (m_pCombo) {
        m_pCombo->DestroyWindow();
        delete m_pCombo;
        m_pCombo = nullptr;
    }
    if (m_pEdit) {
        m_pEdit->DestroyWindow();
        delete m_pEdit;
        m_pEdit = nullptr;
    }
}

void CEditListCtrlEx::SetAutoApply(BOOL bAutoApply) {
    m_bAutoApply = bAutoApply;
}

// ---- rules ---------------------------------------------------------------------
void CEditListCtrlEx::RemoveComboRules(RuleTest pfnTest, UINT nPattern) {
    std::size_t nKept = 0;
    for (std::size_t i = 0; i < m_vComboCells.size(); ++i) {
        if (pfnTest(m_vComboCells[i], nPattern)) continue;
        m_vComboCells[nKept] = m_vComboCells[i];
        m_vComboListIndex[nKept] = m_vComboListIndex[i];
        ++nKept;
    }
    m_vComboCells.resize(nKept);
    m_vComboListIndex.resize(nKept);
}

void CEditListCtrlEx::RemoveEditRules(RuleTest pfnTest, UINT nPattern) {
    std::erase_if(m_vEditCells, [&](UINT nKey) { return pfnTest(nKey, nPattern); });
}

int CEditListCtrlEx::SetEditCell(int nItem, int nSubItem) {
    UINT nRow = 0;
    UINT nColumn = 0;
    if (!ToKeyPart(nItem, &nRow) || !ToKeyPart(nSubItem, &nColumn)) return -1;
    const UINT nKey = MakeKey(nRow, nColumn);
    RemoveComboRules(Overlaps, nKey);
    if (std::find(m_vEditCells.begin(), m_vEditCells.end(), nKey) != m_vEditCells.end()) return 0;
    // A whole row or column replaces the narrower rules on it.
    if (nRow == CELL_ANY) RemoveEditRules(SameColumn, nKey);
    if (nColumn == CELL_ANY) RemoveEditRules(SameRow, nKey);
    m_vEditCells.push_back(nKey);
    return 0;
}

int CEditListCtrlEx::SetComboCell(int nItem, int nSubItem, int nListIndex) {
    if (nListIndex < 0 || std::size_t(nListIndex) >= m_vComboLists.size()) return -1;
    UINT nRow = 0;
    UINT nColumn = 0;
    if (!ToKeyPart(nItem, &nRow) || !ToKeyPart(nSubItem, &nColumn)) return -1;
    const UINT nKey = MakeKey(nRow, nColumn);
    RemoveEditRules(Overlaps, nKey);
    const auto it = std::find(m_vComboCells.begin(), m_vComboCells.end(), nKey);
    if (it != m_vComboCells.end()) {
        m_vComboListIndex[std::size_t(it - m_vComboCells.begin())] = nListIndex;
        return 0;
    }
    if (nRow == CELL_ANY) RemoveComboRules(SameColumn, nKey);
    if (nColumn == CELL_ANY) RemoveComboRules(SameRow, nKey);
    m_vComboCells.push_back(nKey);
    m_vComboListIndex.push_back(nListIndex);
    return 0;
}

void CEditListCtrlEx::SetReadOnlyCell(int nItem, int nSubItem) {
    UINT nRow = 0;
    UINT nColumn = 0;
    // No rule can name a row or column a key cannot hold.
    if (!ToKeyPart(nItem, &nRow) || !ToKeyPart(nSubItem, &nColumn)) return;
    const UINT nKey = MakeKey(nRow, nColumn);
    RemoveComboRules(Overlaps, nKey);
    RemoveEditRules(Overlaps, nKey);
}

// ---- option lists ------------------------------------------------------------------
int CEditListCtrlEx::AddComboList(LPCTSTR pszItems) {
    if (!pszItems) return -1;
    m_vComboLists.emplace_back(pszItems);
    return int(m_vComboLists.size()) - 1;
}

int CEditListCtrlEx::GetComboList(int nIndex, LPTSTR pszBuffer) {
    if (!pszBuffer || nIndex < 0 || std::size_t(nIndex) >= m_vComboLists.size()) return -1;
    const CString& strList = m_vComboLists[std::size_t(nIndex)];
    std::memcpy(pszBuffer, strList.GetString(), std::size_t(strList.GetLength()) + 1);
    return 0;
}

int CEditListCtrlEx::GetComboList(int nIndex, LPTSTR pszBuffer, int nBufferSize) {
    if (!pszBuffer || nBufferSize <= 0) return -1;
    pszBuffer[0] = '\0';
    if (nIndex < 0 || std::size_t(nIndex) >= m_vComboLists.size()) return -1;
    if (m_vComboLists[std::size_t(nIndex)].GetLength() >= nBufferSize) return -1;
    return GetComboList(nIndex, pszBuffer);
}

CString CEditListCtrlEx::GetComboList(int nIndex) {
    if (nIndex < 0 || std::size_t(nIndex) >= m_vComboLists.size()) return CString();
    return m_vComboLists[std::size_t(nIndex)];
}

void CEditListCtrlEx::FillCombo(CString strList) {
    if (!m_pCombo) return;
    m_pCombo->ResetContent();
    // Empty items (separators in a row, at either end) are no items.
    const std::string& s = strList.str();
    int nPos = 0;
    std::size_t nStart = 0;
    while (nStart <= s.size()) {
        std::size_t nEnd = s.find(';', nStart);
        if (nEnd == std::string::npos) nEnd = s.size();
        if (nEnd > nStart) m_pCombo->InsertString(nPos++, s.substr(nStart, nEnd - nStart).c_str());
        nStart = nEnd + 1;
    }
}

// ---- rows ----------------------------------------------------------------------
BOOL CEditListCtrlEx::DeleteAllItems() {
    const BOOL bDone = CListCtrl::DeleteAllItems();
    if (bDone) {
        m_vComboCells.clear();
        m_vEditCells.clear();
        m_vComboListIndex.clear();
        CancelEdit();
    }
    m_nClickItem = -1;
    m_nClickSubItem = -1;
    return bDone;
}

BOOL CEditListCtrlEx::DeleteItem(int nItem) {
    SetReadOnlyCell(nItem, -1);
    const BOOL bDone = CListCtrl::DeleteItem(nItem);
    if (bDone && nItem == m_nEditItem) CancelEdit();
    return bDone;
}

// ---- editing -------------------------------------------------------------------
void CEditListCtrlEx::OnBeginEdit(NMHDR* pNMHDR, LRESULT* pResult) {
    const auto* pItem = reinterpret_cast<const NMITEMACTIVATE*>(pNMHDR);
    m_nEditItem = pItem->iItem;
    m_nEditSubItem = pItem->iSubItem;
    *pResult = 0;
    if (m_nEditItem == -1 || m_nEditSubItem == -1) return;

    for (std::size_t i = 0; i < m_vComboCells.size(); ++i) {
        if (!CoversCell(m_vComboCells[i], m_nEditItem, m_nEditSubItem)) continue;
        if (!m_pCombo) {
            m_pCombo = new CMComboBox;
            if (!m_pCombo->Create(kComboStyle, CRect(0, 0, 100, 300), this, IDC_CELL_COMBO)) {
                delete m_pCombo;
                m_pCombo = nullptr;
                return;
            }
            m_pCombo->SetFont(GetFont(), FALSE);
        }
        FillCombo(m_vComboLists[std::size_t(m_vComboListIndex[i])]);
        CRect rcCell;
        GetSubItemRect(m_nEditItem, m_nEditSubItem, LVIR_BOUNDS, rcCell);
        m_pCombo->MoveWindow(&rcCell, TRUE);
        m_pCombo->ShowWindow(SW_SHOW);
        m_pCombo->SetFocus();
        m_pCombo->SelectString(-1, GetItemText(m_nEditItem, m_nEditSubItem));
        return;
    }

    for (UINT nKey : m_vEditCells) {
        if (!CoversCell(nKey, m_nEditItem, m_nEditSubItem)) continue;
        if (!m_pEdit) {
            m_pEdit = new CMEdit;
            if (!m_pEdit->Create(kEditStyle, CRect(0, 0, 100, 20), this, IDC_CELL_EDIT)) {
                delete m_pEdit;
                m_pEdit = nullptr;
                return;
            }
            m_pEdit->SetFont(GetFont(), FALSE);
        }
        CRect rcCell;
        GetSubItemRect(m_nEditItem, m_nEditSubItem, LVIR_BOUNDS, rcCell);
        m_pEdit->SetWindowText(GetItemText(m_nEditItem, m_nEditSubItem));
        m_pEdit->MoveWindow(&rcCell, TRUE);
        m_pEdit->ShowWindow(SW_SHOW);
        m_pEdit->SetFocus();
        m_pEdit->SetSel(0, -1);
        return;
    }
}

// The editor is hidden before anything else, so that an end of edit this
// triggers again (its focus loss) finds nothing open.
BOOL CEditListCtrlEx::EndEdit() {
    if (m_pEdit && m_pEdit->IsWindowVisible()) {
        m_pEdit->ShowWindow(SW_HIDE);
        CString strText;
        m_pEdit->GetWindowText(strText);
        TakeEditorText(strText);
        return TRUE;
    }
    if (m_pCombo && m_pCombo->IsWindowVisible()) {
        m_pCombo->ShowWindow(SW_HIDE);
        const int nSel = m_pCombo->GetCurSel();
        if (nSel < 0) {
            // Nothing chosen: the cell keeps its text.
            if (m_nEditItem != -1) m_strEditText = GetItemText(m_nEditItem, m_nEditSubItem);
            return TRUE;
        }
        CString strText;
        m_pCombo->GetLBText(nSel, strText);
        TakeEditorText(strText);
        return TRUE;
    }
    return FALSE;
}

void CEditListCtrlEx::TakeEditorText(const CString& strText) {
    if (m_nEditItem == -1) return;
    const CString strOld = GetItemText(m_nEditItem, m_nEditSubItem);
    m_strEditText = strText;
    if (strOld == m_strEditText) return;
    if (m_bAutoApply) {
        SetItemText(m_nEditItem, m_nEditSubItem, m_strEditText);
        m_nEditItem = -1;
        m_nEditSubItem = -1;
        return;
    }
    // Notify mode: the cell, the text and the list make the pending edit.
    if (CWnd* pParent = GetParent())
        pParent->SendMessage(WM_CELL_CHANGED, MAKEWPARAM(UINT(m_nEditItem), UINT(m_nEditSubItem)),
                             LPARAM(m_hWnd));
}

void CEditListCtrlEx::CancelEdit() {
    m_nEditItem = -1;
    m_nEditSubItem = -1;
    if (m_pCombo && m_pCombo->IsWindowVisible()) m_pCombo->ShowWindow(SW_HIDE);
    if (m_pEdit && m_pEdit->IsWindowVisible()) m_pEdit->ShowWindow(SW_HIDE);
}

void CEditListCtrlEx::ApplyPendingEdit() {
    if (m_bAutoApply || m_nEditItem == -1 || m_nEditSubItem == -1) return;
    SetItemText(m_nEditItem, m_nEditSubItem, m_strEditText);
    m_nEditItem = -1;
    m_nEditSubItem = -1;
}

CString CEditListCtrlEx::GetEditText() const {
    return m_strEditText;
}

CString CEditListCtrlEx::GetClickedText() const {
    if (m_nClickItem == -1 || m_nClickSubItem == -1) return CString();
    return GetItemText(m_nClickItem, m_nClickSubItem);
}

// ---- input -----------------------------------------------------------------------
BOOL CEditListCtrlEx::PreTranslateMessage(MSG* pMsg) {
    if (pMsg->message == WM_KEYDOWN && (pMsg->wParam == VK_RETURN || pMsg->wParam == VK_TAB)) {
        if (EndEdit()) return TRUE;
    } else if (pMsg->message == WM_KEYDOWN && pMsg->wParam == VK_ESCAPE) {
        // Escape abandons the edit: nothing written, nothing sent.
        CWnd* pOpen = nullptr;
        if (m_pCombo && m_pCombo->IsWindowVisible())
            pOpen = m_pCombo;
        else if (m_pEdit && m_pEdit->IsWindowVisible())
            pOpen = m_pEdit;
        if (pOpen) {
            m_nEditItem = -1;
            m_nEditSubItem = -1;
            pOpen->ShowWindow(SW_HIDE);
            return TRUE;
        }
    } else if (pMsg->message == WM_MOUSEWHEEL) {
        EndEdit();
    }
    return CListCtrl::PreTranslateMessage(pMsg);
}

void CEditListCtrlEx::OnLButtonDown(UINT nFlags, CPoint point) {
    EndEdit();
    CListCtrl::OnLButtonDown(nFlags, point);
}

void CEditListCtrlEx::OnRButtonDown(UINT nFlags, CPoint point) {
    EndEdit();
    CListCtrl::OnRButtonDown(nFlags, point);
}

void CEditListCtrlEx::OnVScroll(UINT nSBCode, UINT nPos, CScrollBar* pScrollBar) {
    EndEdit();
    CListCtrl::OnVScroll(nSBCode, nPos, pScrollBar);
}

void CEditListCtrlEx::OnHScroll(UINT nSBCode, UINT nPos, CScrollBar* pScrollBar) {
    EndEdit();
    CListCtrl::OnHScroll(nSBCode, nPos, pScrollBar);
}

LRESULT CEditListCtrlEx::OnCellEndEdit(WPARAM, LPARAM) {
    EndEdit();
    return 0;
}

void CEditListCtrlEx::OnClick(NMHDR* pNMHDR, LRESULT* pResult) {
    const auto* pItem = reinterpret_cast<const NMITEMACTIVATE*>(pNMHDR);
    m_nClickItem = pItem->iItem;
    m_nClickSubItem = pItem->iSubItem;
    *pResult = 0;
}

void CEditListCtrlEx::OnComboSelChange() {
    EndEdit();
}
