// The drop-down list: positions and selection, CP936 texts, the prefix
// search, sorting, and CBN_SELCHANGE only for the user's own choices.
#include <QComboBox>
#include <QtTest>
#include <memory>

#include "ui_test_support.h"

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

class TestComboBox : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void insertingPlacesItemsAndSelectsNothing();
    void setCurSelClearsOnMinusOneAndBadIndex();
    void textsRoundTripAsBytes();
    void findStringIsCaseInsensitivePrefixFromAfterStart();
    void selectStringLeavesSelectionOnMiss();
    void addStringSortsOnlyInSortedBox();
    void deletingKeepsSelectionOnItsItem();
    void selChangeOnlyWhenTheUserChooses();
    void boxStaysOneLineHigh();

private:
    void createCombo(DWORD extraStyle);
    void add(std::initializer_list<const char*> items);
    QComboBox* widget() const {
        return dynamic_cast<QComboBox*>(ui::detail::widgetOf(m_combo.get()));
    }

    std::unique_ptr<uitest::Watchdog> m_watchdog;
    std::unique_ptr<ComboHost> m_host;
    std::unique_ptr<CComboBox> m_combo;
};

void TestComboBox::init() {
    m_watchdog = std::make_unique<uitest::Watchdog>();
    m_host = std::make_unique<ComboHost>();
    createCombo(0);
    QVERIFY(m_host->showAndWait());
}

void TestComboBox::createCombo(DWORD extraStyle) {
    m_combo = std::make_unique<CComboBox>();
    QVERIFY(m_combo->Create(
        WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST | extraStyle,
        CRect(10, 10, 210, 200), m_host.get(), kComboId));
}

void TestComboBox::cleanup() {
    uitest::Watchdog::closeModals();
    m_combo.reset();
    m_host.reset();
    QVERIFY(!m_watchdog->fired());
    m_watchdog.reset();
    QVERIFY(uitest::noWindowLeft());
}

void TestComboBox::add(std::initializer_list<const char*> items) {
    for (const char* s : items) QVERIFY(m_combo->InsertString(-1, s) >= 0);
}

void TestComboBox::insertingPlacesItemsAndSelectsNothing() {
    QCOMPARE(m_combo->InsertString(-1, "b"), 0);
    QCOMPARE(m_combo->InsertString(0, "a"), 0);
    QCOMPARE(m_combo->InsertString(-1, "d"), 2);
    QCOMPARE(m_combo->InsertString(2, "c"), 2);
    QCOMPARE(m_combo->InsertString(9, "x"), CB_ERR);
    QCOMPARE(m_combo->InsertString(-2, "x"), CB_ERR);
    QCOMPARE(m_combo->InsertString(0, nullptr), CB_ERR);
    QCOMPARE(m_combo->GetCount(), 4);
    CString s;
    for (int i = 0; i < 4; ++i) {
        m_combo->GetLBText(i, s);
        QCOMPARE(s, CString(std::string(1, char('a' + i))));
    }
    // Filling an empty box selects nothing, and the box shows nothing.
    QCOMPARE(m_combo->GetCurSel(), -1);
    QCOMPARE(widget()->currentText(), QString());
}

void TestComboBox::setCurSelClearsOnMinusOneAndBadIndex() {
    add({"a", "b", "c"});
    QCOMPARE(m_combo->SetCurSel(1), 1);
    QCOMPARE(m_combo->GetCurSel(), 1);
    QCOMPARE(widget()->currentText(), QStringLiteral("b"));
    QCOMPARE(m_combo->SetCurSel(-1), CB_ERR);
    QCOMPARE(m_combo->GetCurSel(), -1);
    QCOMPARE(widget()->currentText(), QString());
    m_combo->SetCurSel(2);
    QCOMPARE(m_combo->SetCurSel(3), CB_ERR);
    QCOMPARE(m_combo->GetCurSel(), -1);
}

void TestComboBox::textsRoundTripAsBytes() {
    add({kUser, "Level_1"});
    char buf[16] = {};
    QCOMPARE(m_combo->GetLBText(0, buf), 4);
    QCOMPARE(QByteArray(buf), QByteArray(kUser));
    QCOMPARE(m_combo->GetLBTextLen(0), 4);
    QCOMPARE(m_combo->GetLBTextLen(1), 7);
    QCOMPARE(widget()->itemText(0), QStringLiteral("用户"));

    QCOMPARE(m_combo->GetLBText(2, buf), CB_ERR);
    QCOMPARE(m_combo->GetLBText(-1, buf), CB_ERR);
    QCOMPARE(m_combo->GetLBText(0, static_cast<char*>(nullptr)), CB_ERR);
    QCOMPARE(m_combo->GetLBTextLen(2), CB_ERR);
    CString s("stale");
    m_combo->GetLBText(5, s);
    QVERIFY(s.IsEmpty());
}

void TestComboBox::findStringIsCaseInsensitivePrefixFromAfterStart() {
    add({"Level_1", "level_2", "Admin", "LEVEL_3", kLevel, kTrailUpper});
    QCOMPARE(m_combo->FindString(-1, "LEVEL"), 0);
    QCOMPARE(m_combo->FindString(0, "level"), 1);
    QCOMPARE(m_combo->FindString(1, "Level"), 3);
    // Past the last match the search wraps round to the top.
    QCOMPARE(m_combo->FindString(3, "lev"), 0);
    QCOMPARE(m_combo->FindString(-1, "adm"), 2);
    QCOMPARE(m_combo->FindString(-1, "level_2x"), CB_ERR);
    QCOMPARE(m_combo->FindString(-1, "dmin"), CB_ERR);  // prefix, not substring
    QCOMPARE(m_combo->FindString(-1, "\xbc\xb6"), 4);   // first character of 级别
    // A start out of range searches from the top.
    QCOMPARE(m_combo->FindString(42, "Admin"), 2);
    QCOMPARE(m_combo->FindString(-1, nullptr), CB_ERR);
    // Case folding never touches the trail byte of a double-byte character.
    QCOMPARE(m_combo->FindString(-1, kTrailUpper), 5);
    QCOMPARE(m_combo->FindString(-1, kTrailLower), CB_ERR);
    // The empty prefix matches the next item.
    QCOMPARE(m_combo->FindString(2, ""), 3);
}

void TestComboBox::selectStringLeavesSelectionOnMiss() {
    add({"Level_1", "Level_2", "Admin"});
    QCOMPARE(m_combo->SelectString(-1, "level_2"), 1);
    QCOMPARE(m_combo->GetCurSel(), 1);
    QCOMPARE(m_combo->SelectString(-1, "nobody"), CB_ERR);
    QCOMPARE(m_combo->GetCurSel(), 1);
    QCOMPARE(m_combo->SelectString(0, "LEVEL"), 1);
    QCOMPARE(m_combo->SelectString(1, "LEVEL"), 0);
}

void TestComboBox::addStringSortsOnlyInSortedBox() {
    QCOMPARE(m_combo->AddString("beta"), 0);
    QCOMPARE(m_combo->AddString("Alpha"), 1);
    QCOMPARE(m_combo->AddString(nullptr), CB_ERR);

    m_combo.reset();
    createCombo(CBS_SORT);
    QCOMPARE(m_combo->AddString("beta"), 0);
    QCOMPARE(m_combo->AddString("Gamma"), 1);
    QCOMPARE(m_combo->AddString("alpha"), 0);
    QCOMPARE(m_combo->AddString("Alpha2"), 1);
    QCOMPARE(m_combo->AddString("BETA"), 3);  // after its equal
    // InsertString puts an item where it is told, sorted box or not.
    QCOMPARE(m_combo->InsertString(0, "zulu"), 0);
    const char* expected[] = {"zulu", "alpha", "Alpha2", "beta", "BETA", "Gamma"};
    QCOMPARE(m_combo->GetCount(), 6);
    CString s;
    for (int i = 0; i < 6; ++i) {
        m_combo->GetLBText(i, s);
        QCOMPARE(s, CString(expected[i]));
    }
}

void TestComboBox::deletingKeepsSelectionOnItsItem() {
    add({"a", "b", "c", "d"});
    m_combo->SetCurSel(2);
    QCOMPARE(m_combo->DeleteString(0), 3);
    QCOMPARE(m_combo->GetCurSel(), 1);
    CString s;
    m_combo->GetLBText(m_combo->GetCurSel(), s);
    QCOMPARE(s, CString("c"));
    // Deleting the selected item leaves no selection rather than another item.
    QCOMPARE(m_combo->DeleteString(1), 2);
    QCOMPARE(m_combo->GetCurSel(), -1);
    QCOMPARE(m_combo->DeleteString(2), CB_ERR);
    QCOMPARE(m_combo->DeleteString(UINT(-1)), CB_ERR);
    m_combo->SetCurSel(0);
    m_combo->ResetContent();
    QCOMPARE(m_combo->GetCount(), 0);
    QCOMPARE(m_combo->GetCurSel(), -1);
}

void TestComboBox::selChangeOnlyWhenTheUserChooses() {
    add({"Level_1", "Level_2", "Level_3"});
    m_combo->SetCurSel(0);
    m_combo->SelectString(-1, "Level_3");
    m_combo->SetCurSel(-1);
    m_combo->SetCurSel(0);
    m_combo->InsertString(0, "Level_0");
    m_combo->DeleteString(0);
    QVERIFY(m_host->trace.isEmpty());

    // A key through the window moves the selection: the parent hears of it.
    QVERIFY(QTest::qWaitForWindowActive(m_host->widget()));
    widget()->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(widget()));
    QTest::keyClick(m_host->window(), Qt::Key_Down);
    QCOMPARE(m_combo->GetCurSel(), 1);
    QCOMPARE(m_host->trace, QStringList({"selchange"}));

    // So does a choice in the dropped list.
    m_host->trace.clear();
    m_combo->ShowDropDown(TRUE);
    QTRY_VERIFY(QApplication::activePopupWidget() != nullptr);
    QWidget* popup = QApplication::activePopupWidget();
    QWidget* target = popup->focusWidget() ? popup->focusWidget() : popup;
    QTest::keyClick(target, Qt::Key_Down);
    QTest::keyClick(target, Qt::Key_Return);
    QTRY_VERIFY(QApplication::activePopupWidget() == nullptr);
    QCOMPARE(m_combo->GetCurSel(), 2);
    QCOMPARE(m_host->trace, QStringList({"selchange"}));

    // Dropping and closing the list without a choice says nothing.
    m_host->trace.clear();
    m_combo->ShowDropDown(TRUE);
    QTRY_VERIFY(QApplication::activePopupWidget() != nullptr);
    m_combo->ShowDropDown(FALSE);
    QTRY_VERIFY(QApplication::activePopupWidget() == nullptr);
    QVERIFY(m_host->trace.isEmpty());
}

void TestComboBox::boxStaysOneLineHigh() {
    // The rectangle of a drop-down includes its list; the box is one line.
    m_combo->MoveWindow(10, 10, 150, 300);
    QVERIFY(widget()->height() <= widget()->sizeHint().height());
    QCOMPARE(widget()->width(), 150);
}

QTEST_MAIN(TestComboBox)
#include "test_combobox.moc"
