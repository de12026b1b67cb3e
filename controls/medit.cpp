#include "controls/medit.h"

#include "controls/cellmsg.h"

IMPLEMENT_DYNAMIC(CMEdit, CEdit)

BEGIN_MESSAGE_MAP(CMEdit, CEdit)
ON_WM_KILLFOCUS()
END_MESSAGE_MAP()

CMEdit::CMEdit() = default;

CMEdit::~CMEdit() = default;

// The list ends the edit; the base handling is deliberately not run.
void CMEdit::OnKillFocus(CWnd*) {
    if (CWnd* pParent = GetParent()) ::SendMessage(pParent->GetSafeHwnd(), WM_CELL_ENDEDIT, 0, 0);
}
