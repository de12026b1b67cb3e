#include "controls/mcombobox.h"

#include "controls/cellmsg.h"

IMPLEMENT_DYNAMIC(CMComboBox, CComboBox)

BEGIN_MESSAGE_MAP(CMComboBox, CComboBox)
ON_WM_KILLFOCUS()
END_MESSAGE_MAP()

CMComboBox::CMComboBox() = default;

CMComboBox::~CMComboBox() = default;

// The list ends the edit; the base handling is deliberately not run.
void CMComboBox::OnKillFocus(CWnd*) {
    if (CWnd* pParent = GetParent()) ::SendMessage(pParent->GetSafeHwnd(), WM_CELL_ENDEDIT, 0, 0);
}
