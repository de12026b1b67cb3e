// The panel of permission check boxes: one run-time box per permission item,
// five to a line inside the group box "权限".
#include <algorithm>
#include <cstring>
#include <vector>

#include "res/resource.h"
#include "userdlg/rolvanedlg.h"

void CrolvaneDlg::BuildPermissionPanel() {
    CRect rcTemplate;
    CRect rcGroup;
    GetDlgItem(IDC_CHECK_TEMPLATE)->GetWindowRect(&rcTemplate);
    GetDlgItem(IDC_GROUP_PERM)->GetWindowRect(&rcGroup);
    ScreenToClient(&rcTemplate);
    ScreenToClient(&rcGroup);

    DestroyPermissionPanel();

    const int n = get_limit_list(nullptr);
    // The mask has 32 bits: a store reporting more gets its first 32 shown.
    m_permCount = std::min(n, KEYWARD_MAX_LIMITS);
    if (n <= 0) return;
    if (n > KEYWARD_MAX_LIMITS) {
        std::vector<LimitRecord> all(static_cast<size_t>(n));
        get_limit_list(all.data());
        std::copy_n(all.begin(), KEYWARD_MAX_LIMITS, m_permItems);
    } else {
        get_limit_list(m_permItems);
    }
    const int nItems = m_permCount;

    const int w = (2 * rcGroup.Width()) / 11;
    const int nLines = nItems / 5 + (nItems % 5 != 0 ? 1 : 0) + 1;
    const int h = rcGroup.Height() / nLines;
    const int x0 = rcGroup.left + w / 4;
    const int y0 = rcGroup.top + h;

    for (int i = 0; i < nItems; ++i) {
        rcTemplate.MoveToXY(x0 + (i % 5) * w, y0 + (i / 5) * h);
        char szTitle[sizeof(m_permItems[i].title) + 1] = {};
        std::memcpy(szTitle, m_permItems[i].title, sizeof(m_permItems[i].title));
        m_permBoxes[i] = new CButton;
        m_permBoxes[i]->Create(szTitle, WS_CHILD | WS_VISIBLE | WS_DISABLED | BS_AUTOCHECKBOX,
                               rcTemplate, this, IDC_PERM_BOX_FIRST + i);
        m_permBoxes[i]->SetFont(&m_boxFont, TRUE);
    }
}

void CrolvaneDlg::DestroyPermissionPanel() {
    for (CButton*& pBox : m_permBoxes) {
        if (!pBox) continue;
        pBox->DestroyWindow();
        delete pBox;
        pBox = nullptr;
    }
}

uint32_t CrolvaneDlg::CollectPermissionMask() {
    if (static_cast<CButton*>(GetDlgItem(IDC_CHECK_ALL))->GetCheck() == BST_CHECKED)
        return 0xFFFFFFFFu;
    uint32_t mask = 0;
    for (int i = 0; i < m_permCount; ++i)
        if (m_permBoxes[i] && m_permBoxes[i]->GetCheck() == BST_CHECKED) mask |= 1u << i;
    return mask;
}

void CrolvaneDlg::OnSelectAll() {
    const int nCheck = static_cast<CButton*>(GetDlgItem(IDC_CHECK_ALL))->GetCheck();
    for (int i = 0; i < m_permCount; ++i)
        if (m_permBoxes[i]) m_permBoxes[i]->SetCheck(nCheck);
}

LRESULT CrolvaneDlg::OnLimitsChanged(WPARAM, LPARAM) {
    BuildPermissionPanel();
    return 0;
}
