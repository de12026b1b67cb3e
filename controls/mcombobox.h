// The drop-down list the editable list lays over a cell; tells the list when it
// loses the focus.
#pragma once

#include "ui/framework.h"

class CMComboBox : public CComboBox {
    DECLARE_DYNAMIC(CMComboBox)

public:
    CMComboBox();
    ~CMComboBox() override;

protected:
    void OnKillFocus(CWnd* pNewWnd);

    DECLARE_MESSAGE_MAP()
};
