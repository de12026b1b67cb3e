// The drop-down list: positions and selection, CP936 texts, the prefix
// search, sorting, and CBN_SELCHANGE only for the user's own choices.
#include <QComboBox>
#include <memory>

#include "ui_test.h"

namespace {

constexpr int kComboId = 2001;
const char* const kUser = "\xd3\xc3\xbb\xa7";   // 用户
const char* const kLevel = "\xbc\xb6\xb1\xf0";  // 级别
// Two double-byte characters whose trail bytes are 'A' and 'a'.
const char* const kTrailUpper = "\x81\x41";  // 丄
const char* const kTrailLower = "\x81\x61";  // 乤

class ComboHost : public uitest::HostWindow {
protected:
    void OnSelChange() { trace << "selchange"; }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(ComboHost, uitest::HostWindow)
ON_CBN_SELCHANGE(kComboId, OnSelChange)
END_MESSAGE_MAP()

}  // namespace

class ComboBox : public uitest::CoreTest {
protected:
    void SetUp() override {
        CoreTest::SetUp();
        m_host = std::make_unique<ComboHost>();
        createCombo(0);
        ASSERT_TRUE(m_host->showAndWait());
    }
    void TearDown() override {
        uitest::Watchdog::closeModals();
        m_combo.reset();
        m_host.reset();
        CoreTest::TearDown();
    }

    void createCombo(DWORD extraStyle) {
        m_combo = std::make_unique<CComboBox>();
        ASSERT_TRUE(m_combo->Create(
            WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST | extraStyle,
            CRect(10, 10, 210, 200), m_host.get(), kComboId));
    }
    void add(std::initializer_list<const char*> items) {
        for (const char* s : items) ASSERT_GE(m_combo->InsertString(-1, s), 0);
    }
    QComboBox* widget() const {
        return dynamic_cast<QComboBox*>(ui::detail::widgetOf(m_combo.get()));
    }

    std::unique_ptr<ComboHost> m_host;
    std::unique_ptr<CComboBox> m_combo;
};

TEST_F(ComboBox, InsertingPlacesItemsAndSelectsNothing) {
    EXPECT_EQ(m_combo->InsertString(-1, "b"), 0);
    EXPECT_EQ(m_combo->InsertString(0, "a"), 0);
    EXPECT_EQ(m_combo->InsertString(-1, "d"), 2);
    EXPECT_EQ(m_combo->InsertString(2, "c"), 2);
    EXPECT_EQ(m_combo->InsertString(9, "x"), CB_ERR);
    EXPECT_EQ(m_combo->InsertString(-2, "x"), CB_ERR);
    EXPECT_EQ(m_combo->InsertString(0, nullptr), CB_ERR);
    EXPECT_EQ(m_combo->GetCount(), 4);
    CString s;
    for (int i = 0; i < 4; ++i) {
        m_combo->GetLBText(i, s);
        EXPECT_EQ(s, CString(std::string(1, char('a' + i))));
    }
    // Filling an empty box selects nothing, and the box shows nothing.
    EXPECT_EQ(m_combo->GetCurSel(), -1);
    EXPECT_EQ(widget()->currentText(), QString());
}

TEST_F(ComboBox, SetCurSelClearsOnMinusOneAndBadIndex) {
    add({"a", "b", "c"});
    EXPECT_EQ(m_combo->SetCurSel(1), 1);
    EXPECT_EQ(m_combo->GetCurSel(), 1);
    EXPECT_EQ(widget()->currentText(), QStringLiteral("b"));
    EXPECT_EQ(m_combo->SetCurSel(-1), CB_ERR);
    EXPECT_EQ(m_combo->GetCurSel(), -1);
    EXPECT_EQ(widget()->currentText(), QString());
    m_combo->SetCurSel(2);
    EXPECT_EQ(m_combo->SetCurSel(3), CB_ERR);
    EXPECT_EQ(m_combo->GetCurSel(), -1);
}

TEST_F(ComboBox, TextsRoundTripAsBytes) {
    add({kUser, "Level_1"});
    char buf[16] = {};
    EXPECT_EQ(m_combo->GetLBText(0, buf), 4);
    EXPECT_EQ(QByteArray(buf), QByteArray(kUser));
    EXPECT_EQ(m_combo->GetLBTextLen(0), 4);
    EXPECT_EQ(m_combo->GetLBTextLen(1), 7);
    EXPECT_EQ(widget()->itemText(0), QStringLiteral("用户"));

    EXPECT_EQ(m_combo->GetLBText(2, buf), CB_ERR);
    EXPECT_EQ(m_combo->GetLBText(-1, buf), CB_ERR);
    EXPECT_EQ(m_combo->GetLBText(0, static_cast<char*>(nullptr)), CB_ERR);
    EXPECT_EQ(m_combo->GetLBTextLen(2), CB_ERR);
    CString s("stale");
    m_combo->GetLBText(5, s);
    EXPECT_TRUE(s.IsEmpty());
}

TEST_F(ComboBox, FindStringIsCaseInsensitivePrefixFromAfterStart) {
    add({"Level_1", "level_2", "Admin", "LEVEL_3", kLevel, kTrailUpper});
    EXPECT_EQ(m_combo->FindString(-1, "LEVEL"), 0);
    EXPECT_EQ(m_combo->FindString(0, "level"), 1);
    EXPECT_EQ(m_combo->FindString(1, "Level"), 3);
    // Past the last match the search wraps round to the top.
    EXPECT_EQ(m_combo->FindString(3, "lev"), 0);
    EXPECT_EQ(m_combo->FindString(-1, "adm"), 2);
    EXPECT_EQ(m_combo->FindString(-1, "level_2x"), CB_ERR);
    EXPECT_EQ(m_combo->FindString(-1, "dmin"), CB_ERR);  // prefix, not substring
    EXPECT_EQ(m_combo->FindString(-1, "\xbc\xb6"), 4);   // first character of 级别
    // A start out of range searches from the top.
    EXPECT_EQ(m_combo->FindString(42, "Admin"), 2);
    EXPECT_EQ(m_combo->FindString(-1, nullptr), CB_ERR);
    // Case folding never touches the trail byte of a double-byte character.
    EXPECT_EQ(m_combo->FindString(-1, kTrailUpper), 5);
    EXPECT_EQ(m_combo->FindString(-1, kTrailLower), CB_ERR);
    // The empty prefix matches the next item.
    EXPECT_EQ(m_combo->FindString(2, ""), 3);
}

TEST_F(ComboBox, SelectStringLeavesSelectionOnMiss) {
    add({"Level_1", "Level_2", "Admin"});
    EXPECT_EQ(m_combo->SelectString(-1, "level_2"), 1);
    EXPECT_EQ(m_combo->GetCurSel(), 1);
    EXPECT_EQ(m_combo->SelectString(-1, "nobody"), CB_ERR);
    EXPECT_EQ(m_combo->GetCurSel(), 1);
    EXPECT_EQ(m_combo->SelectString(0, "LEVEL"), 1);
    EXPECT_EQ(m_combo->SelectString(1, "LEVEL"), 0);
}

TEST_F(ComboBox, AddStringSortsOnlyInSortedBox) {
    EXPECT_EQ(m_combo->AddString("beta"), 0);
    EXPECT_EQ(m_combo->AddString("Alpha"), 1);
    EXPECT_EQ(m_combo->AddString(nullptr), CB_ERR);

    m_combo.reset();
    createCombo(CBS_SORT);
    EXPECT_EQ(m_combo->AddString("beta"), 0);
    EXPECT_EQ(m_combo->AddString("Gamma"), 1);
    EXPECT_EQ(m_combo->AddString("alpha"), 0);
    EXPECT_EQ(m_combo->AddString("Alpha2"), 1);
    EXPECT_EQ(m_combo->AddString("BETA"), 3);  // after its equal
    // InsertString puts an item where it is told, sorted box or not.
    EXPECT_EQ(m_combo->InsertString(0, "zulu"), 0);
    const char* expected[] = {"zulu", "alpha", "Alpha2", "beta", "BETA", "Gamma"};
    EXPECT_EQ(m_combo->GetCount(), 6);
    CString s;
    for (int i = 0; i < 6; ++i) {
        m_combo->GetLBText(i, s);
        EXPECT_EQ(s, CString(expected[i]));
    }
}

TEST_F(ComboBox, DeletingKeepsSelectionOnItsItem) {
    add({"a", "b", "c", "d"});
    m_combo->SetCurSel(2);
    EXPECT_EQ(m_combo->DeleteString(0), 3);
    EXPECT_EQ(m_combo->GetCurSel(), 1);
    CString s;
    m_combo->GetLBText(m_combo->GetCurSel(), s);
    EXPECT_EQ(s, CString("c"));
    // Deleting the selected item leaves no selection rather than another item.
    EXPECT_EQ(m_combo->DeleteString(1), 2);
    EXPECT_EQ(m_combo->GetCurSel(), -1);
    EXPECT_EQ(m_combo->DeleteString(2), CB_ERR);
    EXPECT_EQ(m_combo->DeleteString(UINT(-1)), CB_ERR);
    m_combo->SetCurSel(0);
    m_combo->ResetContent();
    EXPECT_EQ(m_combo->GetCount(), 0);
    EXPECT_EQ(m_combo->GetCurSel(), -1);
}

TEST_F(ComboBox, SelChangeOnlyWhenTheUserChooses) {
    add({"Level_1", "Level_2", "Level_3"});
    m_combo->SetCurSel(0);
    m_combo->SelectString(-1, "Level_3");
    m_combo->SetCurSel(-1);
    m_combo->SetCurSel(0);
    m_combo->InsertString(0, "Level_0");
    m_combo->DeleteString(0);
    EXPECT_TRUE(m_host->trace.isEmpty());

    // A key through the window moves the selection: the parent hears of it.
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_host->widget()));
    widget()->setFocus();
    EXPECT_TRUE(uitest::waitFor([&] { return QApplication::focusWidget() == widget(); }));
    QTest::keyClick(m_host->window(), Qt::Key_Down);
    EXPECT_EQ(m_combo->GetCurSel(), 1);
    EXPECT_EQ(m_host->trace, QStringList({"selchange"}));

    // So does a choice in the dropped list.
    m_host->trace.clear();
    m_combo->ShowDropDown(TRUE);
    ASSERT_TRUE(uitest::waitFor([&] { return QApplication::activePopupWidget() != nullptr; }));
    QWidget* popup = QApplication::activePopupWidget();
    QWidget* target = popup->focusWidget() ? popup->focusWidget() : popup;
    QTest::keyClick(target, Qt::Key_Down);
    QTest::keyClick(target, Qt::Key_Return);
    EXPECT_TRUE(uitest::waitFor([&] { return QApplication::activePopupWidget() == nullptr; }));
    EXPECT_EQ(m_combo->GetCurSel(), 2);
    EXPECT_EQ(m_host->trace, QStringList({"selchange"}));

    // Dropping and closing the list without a choice says nothing.
    m_host->trace.clear();
    m_combo->ShowDropDown(TRUE);
    EXPECT_TRUE(uitest::waitFor([&] { return QApplication::activePopupWidget() != nullptr; }));
    m_combo->ShowDropDown(FALSE);
    EXPECT_TRUE(uitest::waitFor([&] { return QApplication::activePopupWidget() == nullptr; }));
    EXPECT_TRUE(m_host->trace.isEmpty());
}

TEST_F(ComboBox, BoxStaysOneLineHigh) {
    // The rectangle of a drop-down includes its list; the box is one line.
    m_combo->MoveWindow(10, 10, 150, 300);
    EXPECT_TRUE(widget()->height() <= widget()->sizeHint().height());
    EXPECT_EQ(widget()->width(), 150);
}
