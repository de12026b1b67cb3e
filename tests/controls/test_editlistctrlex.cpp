// The editable list: cell rules and their overlaps, option lists, and the
// ways an in-place edit opens, commits and is abandoned, through real key and
// mouse input.
#include <QLineEdit>
#include <QScrollBar>
#include <QTreeView>
#include <QWheelEvent>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "controls/editlistctrlex.h"
#include "core_test_support.h"

namespace {

using uitest::CoreTest;

constexpr int kListId = 4001;
constexpr int kOtherId = 4002;

UINT Key(UINT row, UINT col) {
    return (row << 16) | col;
}

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
class CellHost : public uitest::HostWindow {
public:
    Probe* list = nullptr;
    bool accept = false;

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

BEGIN_MESSAGE_MAP(CellHost, uitest::HostWindow)
ON_MESSAGE(WM_CELL_CHANGED, OnCellChanged)
END_MESSAGE_MAP()

class EditList : public CoreTest {
protected:
    void SetUp() override {
        CoreTest::SetUp();
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
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_host->widget()));
    }
    void TearDown() override {
        m_list.reset();
        m_other.DestroyWindow();
        m_host.reset();
        CoreTest::TearDown();
    }

    QTreeView* view() const { return dynamic_cast<QTreeView*>(ui::detail::widgetOf(m_list.get())); }
    QPoint toWindow(QPoint clientPt) const {
        return view()->viewport()->mapTo(m_host->widget(), clientPt);
    }
    QPoint cellCenter(int row, int col) const {
        CRect r;
        m_list->GetSubItemRect(row, col, LVIR_LABEL, r);
        return QPoint(r.left + r.Width() / 2, r.top + r.Height() / 2);
    }
    void doubleClick(int row, int col) {
        QTest::mouseDClick(m_host->window(), Qt::LeftButton, {}, toWindow(cellCenter(row, col)));
    }
    void click(Qt::MouseButton button, QPoint windowPt) {
        QTest::mouseClick(m_host->window(), button, {}, windowPt);
    }
    void key(Qt::Key k) { QTest::keyClick(m_host->window(), k); }
    void type(const char* text) {
        for (const char* c = text; *c; ++c) QTest::keyClick(m_host->window(), *c);
    }
    // Turns the wheel over a widget, as the pointer would.
    static void wheel(QWidget* over, QPoint at) {
        QWheelEvent ev(QPointF(at), QPointF(over->mapToGlobal(at)), QPoint(), QPoint(0, -120),
                       Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(over, &ev);
    }
    bool editorOpen(CWnd* editor) const {
        return editor && editor->IsWindowVisible() &&
               QApplication::focusWidget() == ui::detail::widgetOf(editor);
    }
    std::string cell(int row, int col) const { return m_list->GetItemText(row, col).str(); }

    std::unique_ptr<CellHost> m_host;
    std::unique_ptr<Probe> m_list;
    CEdit m_other;
};

// ---- rules ------------------------------------------------------------------------

struct RuleCase {
    const char* name;
    std::function<std::vector<int>(Probe&)> ops;  // returns what the calls returned
    std::vector<int> results;
    std::vector<UINT> edits;
    std::vector<std::pair<UINT, int>> combos;
};

TEST_F(EditList, RuleOperationsKeepTheKindsApartAndHonourWildcards) {
    const UINT any = CELL_ANY;
    const std::vector<RuleCase> cases = {
        {"same edit cell twice is one rule",
         [](Probe& l) {
             return std::vector{l.SetEditCell(2, 1), l.SetEditCell(2, 1)};
         },
         {0, 0},
         {Key(2, 1)},
         {}},
        {"whole column replaces narrower edit rules on it only",
         [](Probe& l) {
             return std::vector{l.SetEditCell(3, 2), l.SetEditCell(3, 1), l.SetEditCell(4, 2),
                                l.SetEditCell(-1, 2)};
         },
         {0, 0, 0, 0},
         {Key(3, 1), Key(any, 2)},
         {}},
        {"whole row replaces narrower edit rules on it only",
         [](Probe& l) {
             return std::vector{l.SetEditCell(3, 2), l.SetEditCell(4, 2), l.SetEditCell(3, -1)};
         },
         {0, 0, 0},
         {Key(4, 2), Key(3, any)},
         {}},
        {"whole row and whole column of one kind may overlap",
         [](Probe& l) {
             return std::vector{l.SetEditCell(5, -1), l.SetEditCell(-1, 1)};
         },
         {0, 0},
         {Key(5, any), Key(any, 1)},
         {}},
        {"an edit column removes an overlapping combo rule",
         [](Probe& l) {
             return std::vector{l.AddComboList("a;b"), l.SetComboCell(4, 2, 0),
                                l.SetEditCell(-1, 2)};
         },
         {0, 0, 0},
         {Key(any, 2)},
         {}},
        {"a combo rule removes overlapping edit rules",
         [](Probe& l) {
             return std::vector{l.AddComboList("a"), l.SetEditCell(1, 1), l.SetEditCell(2, 1),
                                l.SetEditCell(1, 2), l.SetComboCell(-1, 1, 0)};
         },
         {0, 0, 0, 0, 0},
         {Key(1, 2)},
         {{Key(any, 1), 0}}},
        {"an exact combo rule only changes its list",
         [](Probe& l) {
             return std::vector{l.AddComboList("a"), l.AddComboList("b"), l.SetComboCell(1, 1, 0),
                                l.SetComboCell(2, 1, 0), l.SetComboCell(1, 1, 1)};
         },
         {0, 1, 0, 0, 0},
         {},
         {{Key(1, 1), 1}, {Key(2, 1), 0}}},
        {"bad arguments change nothing",
         [](Probe& l) {
             return std::vector{
                 l.SetEditCell(1, 1),      l.SetEditCell(-2, 1),     l.SetEditCell(1, -5),
                 l.SetComboCell(1, 1, 0),  l.AddComboList("x"),      l.SetComboCell(1, 2, 1),
                 l.SetComboCell(1, 2, -1), l.SetComboCell(-3, 2, 0), l.AddComboList(nullptr)};
         },
         {0, -1, -1, -1, 0, -1, -1, -1, -1},
         {Key(1, 1)},
         {}},
        {"rows and columns a key cannot hold are refused",
         [](Probe& l) {
             return std::vector{l.SetEditCell(65534, 0), l.SetEditCell(65535, 0),
                                l.SetEditCell(0, 70000), l.AddComboList("x"),
                                l.SetComboCell(4464 + 65536, 1, 0)};
         },
         {0, -1, -1, 0, -1},
         {Key(65534, 0)},
         {}},
        {"read-only removes a broader rule whole",
         [](Probe& l) {
             l.SetEditCell(-1, 1);
             l.SetEditCell(2, 2);
             l.SetReadOnlyCell(5, 1);
             return std::vector<int>{};
         },
         {},
         {Key(2, 2)},
         {}},
        {"read-only everywhere removes every rule of both kinds",
         [](Probe& l) {
             l.AddComboList("a");
             l.SetEditCell(1, -1);
             l.SetEditCell(2, 2);
             l.SetComboCell(7, 0, 0);
             l.SetReadOnlyCell(-1, -1);
             return std::vector<int>{};
         },
         {},
         {},
         {}},
        {"read-only of a row a key cannot hold touches no other row",
         [](Probe& l) {
             l.SetEditCell(4464, 1);
             l.SetReadOnlyCell(4464 + 65536, -1);
             l.SetReadOnlyCell(-7, -1);
             return std::vector<int>{};
         },
         {},
         {Key(4464, 1)},
         {}},
    };
    for (const RuleCase& c : cases) {
        SCOPED_TRACE(c.name);
        Probe list;
        EXPECT_EQ(c.ops(list), c.results);
        EXPECT_EQ(list.EditRules(), c.edits);
        EXPECT_EQ(list.ComboRules(), c.combos);
    }
}

TEST_F(EditList, DeletingRowsDropsTheirRulesOnlyAndKeepsOptionLists) {
    ASSERT_EQ(m_list->AddComboList("a;b"), 0);
    m_list->SetEditCell(3, 1);
    m_list->SetEditCell(-1, 2);
    m_list->SetEditCell(5, 1);
    m_list->SetComboCell(6, 0, 0);
    ASSERT_TRUE(m_list->DeleteItem(3));
    // Later rows keep their old numbers; the whole-column rule overlapped row 3.
    EXPECT_EQ(m_list->EditRules(), std::vector<UINT>({Key(5, 1)}));
    EXPECT_EQ(m_list->ComboRules(), (std::vector<std::pair<UINT, int>>{{Key(6, 0), 0}}));
    EXPECT_EQ(cell(3, 1), "name4");

    ASSERT_TRUE(m_list->DeleteAllItems());
    EXPECT_TRUE(m_list->EditRules().empty());
    EXPECT_TRUE(m_list->ComboRules().empty());
    EXPECT_EQ(m_list->AddComboList("c"), 1);
    EXPECT_EQ(m_list->GetComboList(0), CString("a;b"));
}

TEST_F(EditList, OptionListsCopyOutWhole) {
    ASSERT_EQ(m_list->AddComboList("alpha;beta"), 0);
    char big[32];
    EXPECT_EQ(m_list->GetComboList(0, big), 0);
    EXPECT_STREQ(big, "alpha;beta");
    EXPECT_EQ(m_list->GetComboList(1, big), -1);
    EXPECT_EQ(m_list->GetComboList(0, static_cast<LPTSTR>(nullptr)), -1);
    EXPECT_EQ(m_list->GetComboList(7), CString());

    // The sized form refuses a buffer one byte short and leaves it empty.
    char exact[11];
    char shortBuf[10] = "garbage";
    EXPECT_EQ(m_list->GetComboList(0, exact, int(sizeof exact)), 0);
    EXPECT_STREQ(exact, "alpha;beta");
    EXPECT_EQ(m_list->GetComboList(0, shortBuf, int(sizeof shortBuf)), -1);
    EXPECT_STREQ(shortBuf, "");
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

// ---- editing through real input ------------------------------------------------------

TEST_F(EditList, EditorsCarryTheirClassesStylesAndIds) {
    m_list->SetEditCell(1, 1);
    m_list->AddComboList("x;y");
    m_list->SetComboCell(1, 2, 0);
    doubleClick(1, 1);
    ASSERT_TRUE(editorOpen(m_list->Edit()));
    key(Qt::Key_Escape);
    doubleClick(1, 2);
    ASSERT_TRUE(editorOpen(m_list->Combo()));
    key(Qt::Key_Escape);

    CMEdit* edit = m_list->Edit();
    CMComboBox* combo = m_list->Combo();
    EXPECT_STREQ(edit->GetRuntimeClass()->m_lpszClassName, "CMEdit");
    EXPECT_TRUE(edit->IsKindOf(RUNTIME_CLASS(CEdit)));
    EXPECT_FALSE(edit->IsKindOf(RUNTIME_CLASS(CComboBox)));
    EXPECT_STREQ(combo->GetRuntimeClass()->m_lpszClassName, "CMComboBox");
    EXPECT_TRUE(m_list->IsKindOf(RUNTIME_CLASS(CListCtrl)));
    EXPECT_EQ(edit->GetStyle() & ~WS_VISIBLE, 0x40801084u);
    EXPECT_EQ(combo->GetStyle() & ~WS_VISIBLE, 0x40000083u);
    EXPECT_EQ(edit->GetDlgCtrlID(), 65521);
    EXPECT_EQ(combo->GetDlgCtrlID(), 65522);
    EXPECT_EQ(edit->GetParent(), m_list.get());
    EXPECT_EQ(edit->GetFont(), m_list->GetFont());
}

TEST_F(EditList, EditorCoversTheCellScrolledOrNot) {
    m_list->SetEditCell(-1, 2);
    for (int row : {2, 150}) {
        SCOPED_TRACE(row);
        m_list->EnsureVisible(row, FALSE);
        QCoreApplication::processEvents();
        doubleClick(row, 2);
        ASSERT_TRUE(editorOpen(m_list->Edit()));
        CRect cellRect;
        m_list->GetSubItemRect(row, 2, LVIR_BOUNDS, cellRect);
        const QWidget* w = ui::detail::widgetOf(m_list->Edit());
        EXPECT_EQ(w->geometry(),
                  QRect(cellRect.left, cellRect.top, cellRect.Width(), cellRect.Height()));
        EXPECT_EQ(w->parentWidget(), view()->viewport());
        // The text is the cell's, all of it selected.
        EXPECT_EQ(qobject_cast<const QLineEdit*>(w)->selectedText(),
                  QStringLiteral("title%1").arg(row));
        key(Qt::Key_Escape);
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
             click(Qt::LeftButton,
                   bar->mapTo(m_host->widget(), QPoint(bar->width() / 2, bar->height() * 3 / 4)));
         },
         true},
        {"wheel over the list", [&] { wheel(view()->viewport(), cellCenter(4, 1)); }, true},
        {"wheel over another control",
         [&] {
             QWidget* other = ui::detail::widgetOf(&m_other);
             wheel(other, other->rect().center());
         },
         true},
        {"focus to another control",
         [&] {
             QWidget* other = ui::detail::widgetOf(&m_other);
             click(Qt::LeftButton, other->mapTo(m_host->widget(), other->rect().center()));
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

TEST_F(EditList, ClickingInsideTheOpenEditorKeepsItOpen) {
    m_list->SetEditCell(1, 1);
    doubleClick(1, 1);
    ASSERT_TRUE(editorOpen(m_list->Edit()));
    QWidget* w = ui::detail::widgetOf(m_list->Edit());
    click(Qt::LeftButton, w->mapTo(m_host->widget(), w->rect().center()));
    EXPECT_TRUE(editorOpen(m_list->Edit()));
    // The click placed the caret at the end; Enter ends the edit instead of
    // starting a new line.
    type("x");
    key(Qt::Key_Return);
    EXPECT_EQ(cell(1, 1), "name1x");
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

TEST_F(EditList, ReadOnlyCellRecordsTheDoubleClickAndOpensNothing) {
    m_list->SetEditCell(1, 1);
    doubleClick(2, 2);
    EXPECT_EQ(m_list->EditItem(), 2);
    EXPECT_EQ(m_list->EditSubItem(), 2);
    EXPECT_EQ(m_list->Edit(), nullptr);
    EXPECT_EQ(m_list->Combo(), nullptr);
    // Keys go on as usual with no editor open.
    MSG enter{m_list->m_hWnd, WM_KEYDOWN, VK_RETURN, 0};
    MSG tab{m_list->m_hWnd, WM_KEYDOWN, VK_TAB, 0};
    MSG escape{m_list->m_hWnd, WM_KEYDOWN, VK_ESCAPE, 0};
    EXPECT_FALSE(m_list->PreTranslateMessage(&enter));
    EXPECT_FALSE(m_list->PreTranslateMessage(&tab));
    EXPECT_FALSE(m_list->PreTranslateMessage(&escape));

    click(Qt::LeftButton, toWindow(cellCenter(4, 2)));
    EXPECT_EQ(m_list->GetClickedText(), CString("title4"));
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

UI_CORE_TEST_MAIN()
