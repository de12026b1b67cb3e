// A report list whose cells are edited in place: cell rules mark which cells
// open an edit box or a drop-down list on a double click. The end of an edit
// either writes the cell (auto-apply) or offers the text to the parent with
// WM_CELL_CHANGED and keeps it pending until ApplyPendingEdit (notify mode).
#pragma once

#include <vector>

#include "controls/cellmsg.h"
#include "controls/mcombobox.h"
#include "controls/medit.h"
#include "ui/framework.h"

// Either half of a rule key: any row, or any column.
constexpr UINT CELL_ANY = 0xffff;

class CEditListCtrlEx : public CListCtrl {
    DECLARE_DYNAMIC(CEditListCtrlEx)

public:
    CEditListCtrlEx();
    ~CEditListCtrlEx() override;

    void SetAutoApply(BOOL bAutoApply);
    // Rules: -1 stands for any row or column. 0 done, -1 refused (a negative
    // index, an index above 65534, or an unknown option list).
    int SetEditCell(int nItem, int nSubItem);
    int SetComboCell(int nItem, int nSubItem, int nListIndex);
    // Removes every rule of either kind that overlaps the pattern.
    void SetReadOnlyCell(int nItem, int nSubItem);

    // Option lists: items separated by ";". Returns the new list's index, -1
    // for a null list.
    int AddComboList(LPCTSTR pszItems);
    // Copies list nIndex with its zero byte; the caller must have room for
    // all of it. 0 done, -1 for a null buffer or a bad index.
    int GetComboList(int nIndex, LPTSTR pszBuffer);
    // As above, but refuses (-1, buffer emptied) a buffer of fewer than
    // length + 1 bytes.
    int GetComboList(int nIndex, LPTSTR pszBuffer, int nBufferSize);
    CString GetComboList(int nIndex);

    // Also drop the rules (all of them, or those of the row); the option
    // lists stay. An edit of a row that goes is dropped with it.
    BOOL DeleteAllItems();
    BOOL DeleteItem(int nItem);

    // Closes the visible editor and takes its text; TRUE if one was open.
    BOOL EndEdit();
    // Notify mode: writes the pending text into the pending cell.
    void ApplyPendingEdit();
    CString GetEditText() const;
    CString GetClickedText() const;

    BOOL PreTranslateMessage(MSG* pMsg) override;

protected:
    void FillCombo(CString strList);

    void OnLButtonDown(UINT nFlags, CPoint point);
    void OnRButtonDown(UINT nFlags, CPoint point);
    void OnVScroll(UINT nSBCode, UINT nPos, CScrollBar* pScrollBar);
    void OnHScroll(UINT nSBCode, UINT nPos, CScrollBar* pScrollBar);
    LRESULT OnCellEndEdit(WPARAM wParam, LPARAM lParam);
    void OnClick(NMHDR* pNMHDR, LRESULT* pResult);
    void OnBeginEdit(NMHDR* pNMHDR, LRESULT* pResult);
    void OnComboSelChange();

    DECLARE_MESSAGE_MAP()

protected:
    int m_nEditItem;
    int m_nEditSubItem;
    int m_nClickItem;
    int m_nClickSubItem;
    CMEdit* m_pEdit;
    CMComboBox* m_pCombo;
    BOOL m_bAutoApply;
    CString m_strEditText;
    std::vector<UINT> m_vComboCells;
    std::vector<int> m_vComboListIndex;
    std::vector<UINT> m_vEditCells;
    std::vector<CString> m_vComboLists;

private:
    using RuleTest = bool (*)(UINT nKey, UINT nPattern);
    void RemoveComboRules(RuleTest pfnTest, UINT nPattern);
    void RemoveEditRules(RuleTest pfnTest, UINT nPattern);
    void TakeEditorText(const CString& strText);
    // Hides a visible editor and forgets the cell, writing nothing.
    void CancelEdit();
};
