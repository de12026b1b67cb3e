// The permission panel: the grid computed from the group box, the boxes'
// ids, captions and styles, ticks that follow a user's mask, select-all,
// the collected mask, rebuilding, and a store reporting too many items.
#include <QCheckBox>
#include <QPointer>
#include <QTest>

#include "program_test.h"
#include "res/resource.h"
#include "ui/testing_qt.h"

using namespace progtest;

namespace {

class PermissionPanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        fakestore::reset();
        fakestore::script().users = {fakestore::user("root", 4, 0xFFFFFFFFu),
                                     fakestore::user("op", 1, 0b101)};
        setItemCount(3);
    }
    void TearDown() override { EXPECT_TRUE(noWindowLeft()); }

    static void setItemCount(int n) {
        auto& items = fakestore::script().items;
        items.clear();
        items.push_back(fakestore::item("sys_limit", cp("系统权限").c_str()));
        for (int i = 1; i < n; ++i) {
            const std::string name = "item" + std::to_string(i);
            items.push_back(
                fakestore::item(name.c_str(), (cp("权限") + std::to_string(i)).c_str()));
        }
    }

    static CButton* selectAll(CrolvaneDlg& dlg) {
        return static_cast<CButton*>(dlg.GetDlgItem(IDC_CHECK_ALL));
    }
    static int ticked(CrolvaneDlg& dlg) {
        int n = 0;
        for (int i = 0; i < dlg.m_permCount; ++i) n += dlg.m_permBoxes[i]->GetCheck();
        return n;
    }
    static void showRow(CrolvaneDlg& dlg, int row) {
        dlg.m_curRow = row;
        dlg.ShowRowDetails();
    }
};

class PanelGridTest : public PermissionPanelTest, public ::testing::WithParamInterface<int> {};

TEST_P(PanelGridTest, BoxesStandFiveToALineWithOneSpareLine) {
    const int n = GetParam();
    setItemCount(n);
    runLoggedIn([&](CrolvaneDlg& dlg) {
        ASSERT_EQ(dlg.m_permCount, n);
        const CRect group = clientRectOf(dlg, dlg.GetDlgItem(IDC_GROUP_PERM));
        const CRect model = clientRectOf(dlg, dlg.GetDlgItem(IDC_CHECK_TEMPLATE));
        const int w = 2 * group.Width() / 11;
        const int lines = n / 5 + (n % 5 ? 1 : 0) + 1;
        const int h = group.Height() / lines;
        for (int i = 0; i < KEYWARD_MAX_LIMITS; ++i) {
            SCOPED_TRACE(i);
            if (i >= n) {
                EXPECT_EQ(dlg.m_permBoxes[i], nullptr);
                continue;
            }
            CButton* box = dlg.m_permBoxes[i];
            ASSERT_NE(box, nullptr);
            const CRect r = clientRectOf(dlg, box);
            EXPECT_EQ(r.left, group.left + w / 4 + (i % 5) * w);
            EXPECT_EQ(r.top, group.top + h + (i / 5) * h);
            EXPECT_EQ(r.Width(), model.Width());
            EXPECT_EQ(r.Height(), model.Height());
            EXPECT_EQ(box->GetDlgCtrlID(), IDC_PERM_BOX_FIRST + i);
            EXPECT_EQ(dlg.GetDlgItem(IDC_PERM_BOX_FIRST + i), box);
            CString caption;
            box->GetWindowText(caption);
            EXPECT_EQ(caption.str(), i == 0 ? cp("系统权限") : cp("权限") + std::to_string(i));
            EXPECT_FALSE(box->IsWindowEnabled());
            EXPECT_TRUE(box->IsWindowVisible());
            EXPECT_FALSE(box->GetStyle() & WS_TABSTOP);
            EXPECT_EQ(box->GetFont(), &dlg.m_boxFont);
        }
        // The template box itself never shows.
        EXPECT_FALSE(isShown(dlg, IDC_CHECK_TEMPLATE));
    });
}

INSTANTIATE_TEST_SUITE_P(Counts, PanelGridTest, ::testing::Values(1, 5, 6, 7, 32));

TEST_F(PermissionPanelTest, SixItemsPutBoxFiveUnderBoxZero) {
    setItemCount(6);
    runLoggedIn([&](CrolvaneDlg& dlg) {
        const CRect group = clientRectOf(dlg, dlg.GetDlgItem(IDC_GROUP_PERM));
        const CRect b0 = clientRectOf(dlg, dlg.m_permBoxes[0]);
        const CRect b5 = clientRectOf(dlg, dlg.m_permBoxes[5]);
        EXPECT_EQ(b5.left, b0.left);
        EXPECT_EQ(b0.top, group.top + group.Height() / 3);
        EXPECT_EQ(b5.top, group.top + 2 * (group.Height() / 3));
    });
}

TEST_F(PermissionPanelTest, TicksFollowTheRowsMaskAndSelectAllStaysUnticked) {
    runLoggedIn([&](CrolvaneDlg& dlg) {
        ASSERT_EQ(dlg.m_curRow, 0);  // root, all ones
        EXPECT_EQ(ticked(dlg), 3);
        EXPECT_EQ(selectAll(dlg)->GetCheck(), BST_UNCHECKED);
        showRow(dlg, 1);  // mask 101
        EXPECT_EQ(dlg.m_permBoxes[0]->GetCheck(), BST_CHECKED);
        EXPECT_EQ(dlg.m_permBoxes[1]->GetCheck(), BST_UNCHECKED);
        EXPECT_EQ(dlg.m_permBoxes[2]->GetCheck(), BST_CHECKED);
    });
}

TEST_F(PermissionPanelTest, CollectedMaskOnlyHasExistingItemsUnlessSelectAllIsTicked) {
    runLoggedIn([&](CrolvaneDlg& dlg) {
        // The all-ones user, untouched, collects to the existing items only.
        dlg.m_editMode = ModeEdit;
        dlg.ApplyEditMode();
        EXPECT_EQ(dlg.CollectPermissionMask(), 0b111u);

        QTest::mouseClick(widget(dlg.m_permBoxes[1]), Qt::LeftButton);
        EXPECT_EQ(dlg.CollectPermissionMask(), 0b101u);

        // Select-all ticks every box and stands for every item, present and future.
        click(dlg, IDC_CHECK_ALL);
        EXPECT_EQ(selectAll(dlg)->GetCheck(), BST_CHECKED);
        EXPECT_EQ(ticked(dlg), 3);
        EXPECT_EQ(dlg.CollectPermissionMask(), 0xFFFFFFFFu);

        // Unticking it unticks everything, also what was ticked before.
        click(dlg, IDC_CHECK_ALL);
        EXPECT_EQ(ticked(dlg), 0);
        EXPECT_EQ(dlg.CollectPermissionMask(), 0u);
    });
}

TEST_F(PermissionPanelTest, LimitsChangedRebuildsDisabledAndUntickedByTheNewCount) {
    runLoggedIn([&](CrolvaneDlg& dlg) {
        dlg.m_editMode = ModeEdit;
        dlg.ApplyEditMode();
        ASSERT_EQ(ticked(dlg), 3);
        QPointer<QWidget> oldBox = widget(dlg.m_permBoxes[0]);
        setItemCount(4);
        dlg.PostMessage(WM_LIMITS_CHANGED, 0, 0);
        ASSERT_TRUE(waitFor([&] { return dlg.m_permCount == 4; }));
        EXPECT_NE(dlg.m_permBoxes[3], nullptr);
        EXPECT_EQ(ticked(dlg), 0);
        for (int i = 0; i < 4; ++i) EXPECT_FALSE(dlg.m_permBoxes[i]->IsWindowEnabled());
        // The old boxes are gone from the dialog.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(oldBox.isNull());
        int withId = 0;
        for (int i = 0; i < 40; ++i) withId += dlg.GetDlgItem(IDC_PERM_BOX_FIRST + i) != nullptr;
        EXPECT_EQ(withId, 4);
        EXPECT_EQ(dlg.m_editMode, ModeEdit);
    });
}

TEST_F(PermissionPanelTest, F5RebuildsAndShowsTheCurrentRowsTicksAgain) {
    runLoggedIn([&](CrolvaneDlg& dlg) {
        showRow(dlg, 1);
        setItemCount(5);
        sendKey(dlg, VK_F5);
        EXPECT_EQ(dlg.m_permCount, 5);
        EXPECT_EQ(dlg.m_curRow, 1);
        EXPECT_EQ(ticked(dlg), 2);  // mask 101
        EXPECT_FALSE(dlg.m_permBoxes[4]->IsWindowEnabled());
    });
}

TEST_F(PermissionPanelTest, MoreThanThirtyTwoItemsShowTheFirstThirtyTwo) {
    setItemCount(40);
    runLoggedIn([&](CrolvaneDlg& dlg) {
        EXPECT_EQ(dlg.m_permCount, KEYWARD_MAX_LIMITS);
        CString last;
        dlg.m_permBoxes[31]->GetWindowText(last);
        EXPECT_EQ(last.str(), cp("权限31"));
        EXPECT_EQ(dlg.GetDlgItem(IDC_PERM_BOX_FIRST + 32), nullptr);
        EXPECT_EQ(dlg.m_userList.GetItemText(1, 3).str(), "101" + std::string(29, '0'));
    });
}

TEST_F(PermissionPanelTest, NoItemsMeansNoBoxesAndBareBitTexts) {
    fakestore::script().items.clear();
    runLoggedIn([&](CrolvaneDlg& dlg) {
        EXPECT_EQ(dlg.m_permCount, 0);
        for (CButton* box : dlg.m_permBoxes) EXPECT_EQ(box, nullptr);
        EXPECT_EQ(dlg.m_userList.GetItemText(1, 3).str(), "101");
    });
}

TEST_F(PermissionPanelTest, ClosingDestroysEveryBox) {
    CrolvaneDlg dlg;
    runMainDialog(dlg, {[](CLoginDlg& login) { loginAs(login, "root", "pw"); },
                        [&](CrolvaneDlg& main) { main.SendMessage(WM_CLOSE); }});
    for (CButton* box : dlg.m_permBoxes) EXPECT_EQ(box, nullptr);
    // Boxes go before the store stops.
    EXPECT_EQ(fakestore::calls().back(), "setbank_stop");
}

}  // namespace
