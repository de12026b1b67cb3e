// The permission item editor: lists the store's items, adds one through the
// entry row "*" and deletes the last one.
#pragma once

#include "controls/editlistctrlex.h"
#include "store/keyward.h"
#include "ui/framework.h"

// Posted to itself: wParam's low four bits the kind (1 = warning box),
// lParam a text that lives for the whole run.
constexpr UINT WM_SHOW_MESSAGE = 2028;

class CAdvanceDlg : public CDialogEx {
    DECLARE_DYNAMIC(CAdvanceDlg)

public:
    explicit CAdvanceDlg(CWnd* pParent = nullptr);
    ~CAdvanceDlg() override;

    virtual void OnClose();

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL PreTranslateMessage(MSG* pMsg) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;

    BOOL OnHelpInfo(HELPINFO* pHelpInfo);
    void OnDeleteLastItem();
    LRESULT OnShowMessage(WPARAM wParam, LPARAM lParam);
    LRESULT OnCellChanged(WPARAM wParam, LPARAM lParam);
    void OnRClickItemList(NMHDR* pNMHDR, LRESULT* pResult);

    void LoadItems();
    void AddEntryRow(int nRow);
    // Whether an item row (not the entry row) holds the text in the column.
    bool IsDuplicate(int nColumn, const CString& strText);
    // 1 when the logged-in user holds the item; 0 after telling them not.
    int CheckRight(LPCTSTR pszItemName);
    void OnCellEdited(int nRow, int nColumn);

    DECLARE_MESSAGE_MAP()

public:
    CEditListCtrlEx m_list;
    int32_t m_nItemCount;
    BOOL m_bModified;
};
