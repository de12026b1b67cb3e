// The editable list: cell rules and their overlaps, option lists, and the
// ways an in-place edit opens, commits and is abandoned, through real key and
// mouse input.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QScrollBar>
#include <QTableView>
#include <QWheelEvent>
#include <QtTest>
#include <algorithm>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "controls/editlistctrlex.h"
#include "ui/testing_qt.h"

namespace {

using ui::test::widget;
using ui::test::windowOf;

constexpr int kListId = 4001;
constexpr int kOtherId = 4002;

// Opens the control's state to the tests.
class Probe : public CEditListCtrlEx {
public:
    int EditItem() const { return m_nEditItem; }
    int EditSubItem() const { return m_nEditSubItem; }
    int ClickItem() const { return m_nClickItem; }
    CMEdit* Edit() const { return m_pEdit; }
    CMComboBox* Combo() const { return m_pCombo; }
    std::vector<UINT> EditRules() const { return m_vEditCells; }
    std::vector<std::pair<UINT, int>> ComboRules() const {
        std::vector<std::pair<UINT, int>> rules;
        for (std::size_t i = 0; i < m_vComboCells.size(); ++i)
            rules.emplace_back(m_vComboCells[i], m_vComboListIndex[i]);
        return rules;
    }
};

// Records WM_CELL_CHANGED as "changed row/col text list|other"; accepts the
// change inside the handler when told to.
class CellHost : public ui::test::HostWindow {
public:
    Probe* list = nullptr;
    bool accept = false;
    QStringList trace;

protected:
    LRESULT OnCellChanged(WPARAM wParam, LPARAM lParam) {
        trace << QStringLiteral("changed %1/%2 %3 %4")
                     .arg(LOWORD(wParam))
                     .arg(HIWORD(wParam))
                     .arg(list->GetEditText().GetString())
                     .arg(lParam == LPARAM(list->m_hWnd) ? "list" : "other");
        if (accept) list->ApplyPendingEdit();
        return 0;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CellHost, ui::test::HostWindow)
ON_MESSAGE(WM_CELL_CHANGED, OnCellChanged)
END_MESSAGE_MAP()

// Each test under the kit's watchdog, ending with no window left.
class EditList : public ::testing::Test {
protected:
    void SetUp() override {
        m_watchdog = std::make_unique<ui::test::Watchdog>();
        m_host = std::make_unique<CellHost>();
        m_list = std::make_unique<Probe>();
        m_host->list = m_list.get();
        ASSERT_TRUE(m_list->Create(WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | LVS_REPORT,
                                   CRect(10, 10, 410, 250), m_host.get(), kListId));
        m_list->InsertColumn(0, "No", LVCFMT_LEFT, 60);
        m_list->InsertColumn(1, "Name", LVCFMT_LEFT, 120);
        m_list->InsertColumn(2, "Title", LVCFMT_LEFT, 120);
        ASSERT_TRUE(m_other.Create(WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP,
                                   CRect(10, 270, 200, 295), m_host.get(), kOtherId));
        for (int i = 0; i < 200; ++i) {
            const std::string n = std::to_string(i);
            m_list->InsertItem(i, n.c_str());
            m_list->SetItemText(i, 1, ("name" + n).c_str());
            m_list->SetItemText(i, 2, ("title" + n).c_str());
        }
        ASSERT_TRUE(m_host->showAndWait());
        ASSERT_TRUE(QTest::qWaitForWindowActive(widget(m_host.get())));
    }
    void TearDown() override {
        m_list.reset();
        m_other.DestroyWindow();
        m_host.reset();
        EXPECT_FALSE(m_watchdog->fired()) << "a modal loop had to be closed by the watchdog";
        ui::test::Watchdog::closeModals();
        m_watchdog.reset();
        EXPECT_TRUE(ui::test::noWindowLeft());
    }

    QTableView* view() const { return dynamic_cast<QTableView*>(widget(m_list.get())); }
    QPoint toWindow(QPoint clientPt) const {
        return view()->viewport()->mapTo(widget(m_host.get()), clientPt);
    }
    QPoint cellCenter(int row, int col) const {
        CRect r;
        m_list->GetSubItemRect(row, col, LVIR_LABEL, r);
        return QPoint(r.left + r.Width() / 2, r.top + r.Height() / 2);
    }
    void doubleClick(int row, int col) {
        QTest::mouseDClick(windowOf(*m_host), Qt::LeftButton, {}, toWindow(cellCenter(row, col)));
    }
    void click(Qt::MouseButton button, QPoint windowPt) {
        QTest::mouseClick(windowOf(*m_host), button, {}, windowPt);
    }
    void key(Qt::Key k) { QTest::keyClick(windowOf(*m_host), k); }
    void type(const char* text) {
        for (const char* c = text; *c; ++c) QTest::keyClick(windowOf(*m_host), *c);
    }
    // Turns the wheel over a widget, as the pointer would.
    static void wheel(QWidget* over, QPoint at) {
        QWheelEvent ev(QPointF(at), QPointF(over->mapToGlobal(at)), QPoint(), QPoint(0, -120),
                       Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(over, &ev);
    }
    bool editorOpen(CWnd* editor) const {
        return editor && editor->IsWindowVisible() && QApplication::focusWidget() == widget(editor);
    }
    std::string cell(int row, int col) const { return m_list->GetItemText(row, col).str(); }

    std::unique_ptr<ui::test::Watchdog> m_watchdog;
    std::unique_ptr<CellHost> m_host;
    std::unique_ptr<Probe> m_list;
    CEdit m_other;
};

// ---- rules ------------------------------------------------------------------------

// Runs a script of rule operations, one a word group separated by ";":
// "E r c" SetEditCell, "C r c i" SetComboCell, "R r c" SetReadOnlyCell,
// "L text" AddComboList ("|" for ";", "L null" passes null). Returns what
// they returned.
std::string runRuleScript(Probe& list, const std::string& script) {
    std::istringstream ops(script);
    std::string op, results;
    while (std::getline(ops, op, ';')) {
        std::istringstream words(op);
        std::string what, text;
        int a = 0, b = 0, c = 0;
        words >> what;
        int r = 0;
        if (what == "E") {
            words >> a >> b;
            r = list.SetEditCell(a, b);
        } else if (what == "C") {
            words >> a >> b >> c;
            r = list.SetComboCell(a, b, c);
        } else if (what == "R") {
            words >> a >> b;
            list.SetReadOnlyCell(a, b);
            continue;
        } else {
            words >> text;
            std::replace(text.begin(), text.end(), '|', ';');
            r = list.AddComboList(text == "null" ? nullptr : text.c_str());
        }
        if (!results.empty()) results += ' ';
        results += std::to_string(r);
    }
    return results;
}

// The rules in vector order: "E 3/1", "C */2=0" ...
std::string rulesOf(const Probe& list) {
    auto part = [](UINT v) { return v == CELL_ANY ? std::string("*") : std::to_string(v); };
    std::string out;
    // Appended piece by piece: GCC 12 at -O3 falsely reports "literal" +
    // std::string temporaries as overlapping copies (-Wrestrict).
    for (UINT key : list.EditRules())
        out.append(" E ").append(part(key >> 16)).append("/").append(part(key & 0xffff));
    for (const auto& [key, index] : list.ComboRules())
        out.append(" C ")
            .append(part(key >> 16))
            .append("/")
            .append(part(key & 0xffff))
            .append("=")
            .append(std::to_string(index));
    return out.empty() ? out : out.substr(1);
}

TEST_F(EditList, RuleOperationsKeepTheKindsApartAndHonourWildcards) {
    struct Case {
        const char* script;
        const char* results;
        const char* rules;
    };
    const Case cases[] = {
        // Same cell twice is one rule.
        {"E 2 1; E 2 1", "0 0", "E 2/1"},
        // A whole column or row replaces the narrower rules on it only.
        {"E 3 2; E 3 1; E 4 2; E -1 2", "0 0 0 0", "E 3/1 E */2"},
        {"E 3 2; E 4 2; E 3 -1", "0 0 0", "E 4/2 E 3/*"},
        // A whole row and a whole column of one kind may overlap.
        {"E 5 -1; E -1 1", "0 0", "E 5/* E */1"},
        // The kinds never overlap: each new rule removes the other kind's.
        {"L a|b; C 4 2 0; E -1 2", "0 0 0", "E */2"},
        {"L a; E 1 1; E 2 1; E 1 2; C -1 1 0", "0 0 0 0 0", "E 1/2 C */1=0"},
        // An exact combo rule only changes its list.
        {"L a; L b; C 1 1 0; C 2 1 0; C 1 1 1", "0 1 0 0 0", "C 1/1=1 C 2/1=0"},
        // Bad arguments change nothing.
        {"E 1 1; E -2 1; E 1 -5; C 1 1 0; L x; C 1 2 1; C 1 2 -1; C -3 2 0; L null",
         "0 -1 -1 -1 0 -1 -1 -1 -1", "E 1/1"},
        // Rows and columns a key cannot hold are refused, not folded onto others.
        {"E 65534 0; E 65535 0; E 0 70000; L x; C 70000 1 0", "0 -1 -1 0 -1", "E 65534/0"},
        {"E 4464 1; R 70000 -1; R -7 -1", "0", "E 4464/1"},
        // Read-only removes a broader rule whole; everywhere removes all.
        {"E -1 1; E 2 2; R 5 1", "0 0", "E 2/2"},
        {"L a; E 1 -1; E 2 2; C 7 0 0; R -1 -1", "0 0 0 0", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        Probe list;
        EXPECT_EQ(runRuleScript(list, c.script), c.results);
        EXPECT_EQ(rulesOf(list), c.rules);
    }
}

TEST_F(EditList, DeletingRowsDropsTheirRulesOnlyAndKeepsOptionLists) {
    runRuleScript(*m_list, "L a|b; E 3 1; E -1 2; E 5 1; C 6 0 0");
    ASSERT_TRUE(m_list->DeleteItem(3));
    // Later rows keep their numbers; the whole-column rule overlapped row 3.
    EXPECT_EQ(rulesOf(*m_list), "E 5/1 C 6/0=0");
    EXPECT_EQ(cell(3, 1), "name4");

    ASSERT_TRUE(m_list->DeleteAllItems());
    EXPECT_EQ(rulesOf(*m_list), "");
    EXPECT_EQ(m_list->AddComboList("c"), 1);
    // The sized copy refuses a buffer one byte short and leaves it empty.
    char exact[4], tooShort[3] = "xy";
    EXPECT_EQ(m_list->GetComboList(0, exact, int(sizeof exact)), 0);
    EXPECT_STREQ(exact, "a;b");
    EXPECT_EQ(m_list->GetComboList(0, tooShort, int(sizeof tooShort)), -1);
    EXPECT_STREQ(tooShort, "");
    EXPECT_EQ(m_list->GetComboList(2, exact), -1);
}

TEST_F(EditList, OptionListsSkipEmptyItemsAndKeepTheirOrder) {
    const std::vector<std::pair<const char*, std::vector<std::string>>> cases = {
        {"a;;b;", {"a", "b"}}, {";z;y", {"z", "y"}}, {";;", {}}, {"", {}}, {"one", {"one"}},
    };
    for (const auto& [options, items] : cases) {
        SCOPED_TRACE(options);
        m_list->SetComboCell(0, 2, m_list->AddComboList(options));
        doubleClick(0, 2);
        ASSERT_TRUE(editorOpen(m_list->Combo()));
        std::vector<std::string> shown;
        for (int i = 0; i < m_list->Combo()->GetCount(); ++i) {
            CString s;
            m_list->Combo()->GetLBText(i, s);
            shown.push_back(s.str());
        }
        EXPECT_EQ(shown, items);
        key(Qt::Key_Escape);
        EXPECT_FALSE(m_list->Combo()->IsWindowVisible());
    }
}

// Every way of ending an edit but Escape writes the typed text (auto-apply).
TEST_F(EditList, EveryEndOfEditCommitsButEscape) {
    struct Way {
        const char* name;
        std::function<void()> end;
        bool commits;
    };
    QScrollBar* bar = view()->verticalScrollBar();
    const std::vector<Way> ways = {
        {"enter", [&] { key(Qt::Key_Return); }, true},
        {"tab", [&] { key(Qt::Key_Tab); }, true},
        {"left click on another row", [&] { click(Qt::LeftButton, toWindow(cellCenter(4, 1))); },
         true},
        {"right click", [&] { click(Qt::RightButton, toWindow(cellCenter(4, 1))); }, true},
        {"scroll bar",
         [&] {
             click(Qt::LeftButton, bar->mapTo(widget(m_host.get()),
                                              QPoint(bar->width() / 2, bar->height() * 3 / 4)));
         },
         true},
        {"wheel over the list", [&] { wheel(view()->viewport(), cellCenter(4, 1)); }, true},
        {"wheel over another control",
         [&] {
             QWidget* other = widget(&m_other);
             wheel(other, other->rect().center());
         },
         true},
        {"focus to another control",
         [&] {
             QWidget* other = widget(&m_other);
             click(Qt::LeftButton, other->mapTo(widget(m_host.get()), other->rect().center()));
         },
         true},
        {"escape", [&] { key(Qt::Key_Escape); }, false},
    };
    m_list->SetEditCell(1, 1);
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        bar->setValue(0);
        m_list->SetItemText(1, 1, "old");
        doubleClick(1, 1);
        ASSERT_TRUE(editorOpen(m_list->Edit()));
        type("new");
        way.end();
        EXPECT_FALSE(m_list->Edit()->IsWindowVisible());
        EXPECT_EQ(cell(1, 1), way.commits ? "new" : "old");
        EXPECT_EQ(m_list->EditItem(), -1);
        EXPECT_EQ(m_list->EditSubItem(), -1);
        EXPECT_TRUE(m_host->trace.isEmpty());  // auto-apply tells the parent nothing
    }
}

TEST_F(EditList, NotifyModeOffersTheTextAndWaitsForTheParent) {
    m_list->SetAutoApply(FALSE);
    m_list->SetEditCell(3, 2);

    // Unchanged: nothing written, nothing sent, the cell stays recorded.
    doubleClick(3, 2);
    ASSERT_TRUE(editorOpen(m_list->Edit()));
    key(Qt::Key_Return);
    EXPECT_TRUE(m_host->trace.isEmpty());
    EXPECT_EQ(m_list->EditItem(), 3);
    EXPECT_EQ(m_list->EditSubItem(), 2);

    // Changed: row in the low word, column in the high word, the list's handle.
    doubleClick(3, 2);
    type("abc");
    key(Qt::Key_Tab);
    EXPECT_EQ(m_host->trace, QStringList({"changed 3/2 abc list"}));
    EXPECT_EQ(cell(3, 2), "title3");
    EXPECT_EQ(m_list->EditItem(), 3);
    m_list->ApplyPendingEdit();
    EXPECT_EQ(cell(3, 2), "abc");
    EXPECT_EQ(m_list->EditItem(), -1);
    m_list->ApplyPendingEdit();  // nothing pending any more
    EXPECT_EQ(cell(3, 2), "abc");

    // The parent may accept inside its handler.
    m_host->trace.clear();
    m_host->accept = true;
    doubleClick(3, 2);
    type("def");
    key(Qt::Key_Return);
    EXPECT_EQ(m_host->trace, QStringList({"changed 3/2 def list"}));
    EXPECT_EQ(cell(3, 2), "def");

    // Escape leaves nothing pending for a later ApplyPendingEdit.
    m_host->trace.clear();
    m_host->accept = false;
    doubleClick(3, 2);
    type("ghi");
    key(Qt::Key_Escape);
    m_list->ApplyPendingEdit();
    EXPECT_EQ(cell(3, 2), "def");
    EXPECT_TRUE(m_host->trace.isEmpty());
    EXPECT_EQ(m_list->EditItem(), -1);
}

TEST_F(EditList, ComboCommitsOnChoosingAndKeepsTheCellWithoutAChoice) {
    m_list->AddComboList("Level_1;Level_2;Level_3");
    m_list->SetComboCell(-1, 2, 0);
    m_list->SetItemText(1, 2, "level_2");

    // The cell's text preselects its item without regard to case.
    doubleClick(1, 2);
    ASSERT_TRUE(editorOpen(m_list->Combo()));
    EXPECT_EQ(m_list->Combo()->GetCurSel(), 1);
    key(Qt::Key_Down);  // choosing ends the edit at once
    EXPECT_FALSE(m_list->Combo()->IsWindowVisible());
    EXPECT_EQ(cell(1, 2), "Level_3");
    EXPECT_EQ(m_list->EditItem(), -1);

    // No item begins with the cell's text: nothing selected, the cell stays.
    doubleClick(2, 2);
    ASSERT_TRUE(editorOpen(m_list->Combo()));
    EXPECT_EQ(m_list->Combo()->GetCurSel(), -1);
    key(Qt::Key_Return);
    EXPECT_EQ(cell(2, 2), "title2");

    // An edit rule on one cell of the column removes the whole-column combo rule.
    m_list->SetEditCell(4, 2);
    doubleClick(5, 2);
    EXPECT_FALSE(m_list->Combo()->IsWindowVisible());
    doubleClick(4, 2);
    EXPECT_TRUE(editorOpen(m_list->Edit()));
    key(Qt::Key_Escape);
}

TEST_F(EditList, RemovingTheEditedRowDropsTheEdit) {
    m_list->SetEditCell(-1, 1);
    doubleClick(2, 1);
    ASSERT_TRUE(editorOpen(m_list->Edit()));
    type("lost");
    ASSERT_TRUE(m_list->DeleteAllItems());
    EXPECT_FALSE(m_list->Edit()->IsWindowVisible());
    EXPECT_EQ(m_list->EditItem(), -1);
    m_list->InsertItem(0, "0");
    key(Qt::Key_Return);
    EXPECT_EQ(cell(0, 1), "");
}

}  // namespace
