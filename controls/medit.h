// The edit box the editable list lays over a cell; tells the list when it
// loses the focus.
#pragma once

#include "ui/framework.h"

class CMEdit : public CEdit {
    DECLARE_DYNAMIC(CMEdit)

public:
    CMEdit();
    ~CMEdit() override;

protected:
    void OnKillFocus(CWnd* pNewWnd);

    DECLARE_MESSAGE_MAP()
};
