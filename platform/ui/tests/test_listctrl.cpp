// The list control: hit-testing, notifications and their order, selection,
// columns, cell rectangles under child windows, CP936 text, and mouse
// messages that a subclass's message map sees before the list acts.
#include <QAbstractItemModel>
#include <QHeaderView>
#include <QScrollBar>
#include <QTableView>
#include <QWheelEvent>
#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include "ui_test.h"

namespace {

constexpr int kListId = 1001;
constexpr int kEditId = 1002;
const char* const kUser = "\xd3\xc3\xbb\xa7";              // 用户
const char* const kUserName = "\xd3\xc3\xbb\xa7\xc3\xfb";  // 用户名
const char* const kZhangSan = "\xd5\xc5\xc8\xfd";          // 张三

// Records the list's notifications as "click 2/1", "sel+ 3" ...
class ListHost : public uitest::HostWindow {
public:
    POINT lastAction{-9, -9};
    HWND lastFrom = nullptr;

protected:
    void OnClick(NMHDR* h, LRESULT* r) { activate("click", h, r); }
    void OnDblClk(NMHDR* h, LRESULT* r) { activate("dblclk", h, r); }
    void OnRClick(NMHDR* h, LRESULT* r) { activate("rclick", h, r); }
    void OnItemChanged(NMHDR* h, LRESULT* r) {
        const auto* nm = reinterpret_cast<const NMLISTVIEW*>(h);
        const bool now = nm->uNewState & LVIS_SELECTED;
        const bool before = nm->uOldState & LVIS_SELECTED;
        if (now != before) trace << QStringLiteral("sel%1 %2").arg(now ? '+' : '-').arg(nm->iItem);
        *r = 0;
    }

private:
    void activate(const char* what, NMHDR* h, LRESULT* r) {
        const auto* nm = reinterpret_cast<const NMITEMACTIVATE*>(h);
        trace << QStringLiteral("%1 %2/%3").arg(what).arg(nm->iItem).arg(nm->iSubItem);
        lastAction = nm->ptAction;
        lastFrom = h->hwndFrom;
        *r = 0;
    }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(ListHost, uitest::HostWindow)
ON_NOTIFY(NM_CLICK, kListId, OnClick)
ON_NOTIFY(NM_DBLCLK, kListId, OnDblClk)
ON_NOTIFY(NM_RCLICK, kListId, OnRClick)
ON_NOTIFY(LVN_ITEMCHANGED, kListId, OnItemChanged)
END_MESSAGE_MAP()

// A list whose message map sees presses, scrolling and the wheel first and
// passes them on to the default handling only when told to.
class InterceptingList : public CListCtrl {
public:
    bool passOn = true;
    QStringList* log = nullptr;
    CPoint lastDown{-9, -9};

protected:
    void OnLButtonDown(UINT nFlags, CPoint point) {
        *log << "ldown";
        lastDown = point;
        if (passOn) CListCtrl::OnLButtonDown(nFlags, point);
    }
    void OnRButtonDown(UINT nFlags, CPoint point) {
        *log << "rdown";
        if (passOn) CListCtrl::OnRButtonDown(nFlags, point);
    }
    void OnVScroll(UINT nSBCode, UINT nPos, CScrollBar* pScrollBar) {
        *log << QStringLiteral("vscroll %1").arg(nSBCode);
        if (passOn) CListCtrl::OnVScroll(nSBCode, nPos, pScrollBar);
    }
    LRESULT OnMouseWheel(WPARAM wParam, LPARAM) {
        *log << QStringLiteral("wheel %1").arg(short(HIWORD(wParam)));
        return passOn ? Default() : 0;
    }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(InterceptingList, CListCtrl)
ON_WM_LBUTTONDOWN()
ON_WM_RBUTTONDOWN()
ON_WM_VSCROLL()
ON_MESSAGE(WM_MOUSEWHEEL, OnMouseWheel)
END_MESSAGE_MAP()

}  // namespace

class ListCtrl : public uitest::CoreTest {
protected:
    void SetUp() override {
        CoreTest::SetUp();
        m_host = std::make_unique<ListHost>();
        createList(0);
        ASSERT_TRUE(m_host->showAndWait());
    }
    void TearDown() override {
        m_list.reset();
        m_host.reset();
        CoreTest::TearDown();
    }

    void createList(DWORD extraStyle) {
        m_list = std::make_unique<InterceptingList>();
        m_list->log = &m_host->trace;
        ASSERT_TRUE(
            m_list->Create(WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | LVS_REPORT | extraStyle,
                           CRect(10, 10, 410, 310), m_host.get(), kListId));
        // 360 pixels of columns in a wider list: there is room right of them.
        EXPECT_EQ(m_list->InsertColumn(0, "No", LVCFMT_LEFT, 60), 0);
        EXPECT_EQ(m_list->InsertColumn(1, kUserName, LVCFMT_LEFT, 120), 1);
        EXPECT_EQ(m_list->InsertColumn(2, "Level", LVCFMT_LEFT, 80), 2);
        EXPECT_EQ(m_list->InsertColumn(3, "Bits", LVCFMT_LEFT, 100), 3);
        m_list->SetExtendedStyle(LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    }
    void fill(int rows) {
        for (int i = 0; i < rows; ++i) {
            const std::string n = std::to_string(i);
            EXPECT_EQ(m_list->InsertItem(i, n.c_str()), i);
            m_list->SetItemText(i, 1, ("user" + n).c_str());
            m_list->SetItemText(i, 2, "Level_1");
        }
        QCoreApplication::processEvents();
    }
    QTableView* view() const {
        return dynamic_cast<QTableView*>(ui::detail::widgetOf(m_list.get()));
    }
    QPoint cellCenter(int row, int col) const {
        CRect r;
        if (!m_list->GetSubItemRect(row, col, LVIR_LABEL, r)) return QPoint(-1000, -1000);
        return QPoint(r.left + r.Width() / 2, r.top + r.Height() / 2);
    }
    QPoint toWindow(QPoint clientPt) const {
        return view()->viewport()->mapTo(m_host->widget(), clientPt);
    }
    void click(Qt::MouseButton button, QPoint clientPt, Qt::KeyboardModifiers mods = {}) {
        QTest::mouseClick(m_host->window(), button, mods, toWindow(clientPt));
    }
    QList<int> selectedRows() const {
        QList<int> rows;
        CListCtrl::POSITION pos = m_list->GetFirstSelectedItemPosition();
        while (pos) rows << m_list->GetNextSelectedItem(pos);
        return rows;
    }

    std::unique_ptr<ListHost> m_host;
    std::unique_ptr<InterceptingList> m_list;
};

TEST_F(ListCtrl, ColumnsKeepHeadingsWidthsAndSubItems) {
    EXPECT_EQ(m_list->GetColumnCount(), 4);
    EXPECT_EQ(m_list->GetColumnWidth(1), 120);
    EXPECT_TRUE(m_list->SetColumnWidth(1, 150));
    EXPECT_EQ(m_list->GetColumnWidth(1), 150);
    // The heading came in as CP936 and shows as Unicode.
    EXPECT_EQ(view()->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("用户名"));

    // A position past the end appends; a negative one is refused.
    EXPECT_EQ(m_list->InsertColumn(99, "Extra", LVCFMT_LEFT, 50), 4);
    EXPECT_EQ(m_list->InsertColumn(-1, "Bad", LVCFMT_LEFT, 50), -1);
    EXPECT_TRUE(m_list->DeleteColumn(4));
    EXPECT_FALSE(m_list->DeleteColumn(4));
    EXPECT_EQ(m_list->GetColumnWidth(9), 0);
    EXPECT_FALSE(m_list->SetColumnWidth(9, 10));

    // Without a width the column is still wide enough to read its heading.
    EXPECT_EQ(m_list->InsertColumn(4, kUser), 4);
    EXPECT_TRUE(m_list->GetColumnWidth(4) > 10);
    EXPECT_TRUE(m_list->DeleteColumn(4));

    // A column inserted between filled ones moves the later sub-items right.
    fill(2);
    EXPECT_EQ(m_list->InsertColumn(1, "Mid", LVCFMT_LEFT, 40), 1);
    EXPECT_EQ(m_list->GetItemText(1, 0), CString("1"));
    EXPECT_EQ(m_list->GetItemText(1, 1), CString(""));
    EXPECT_EQ(m_list->GetItemText(1, 2), CString("user1"));
    EXPECT_TRUE(m_list->DeleteColumn(1));
    EXPECT_EQ(m_list->GetItemText(1, 1), CString("user1"));
}

TEST_F(ListCtrl, HeaderIsAsTallAsQtMeasuresIt) {
    // The header measures its sections in the regular face, not in bold as
    // Qt's own does; its height must not move for that.
    QHeaderView stock(Qt::Horizontal);
    stock.setModel(view()->model());
    for (const int points : {9, 12, 20}) {
        QFont font = view()->horizontalHeader()->font();
        font.setPointSize(points);
        view()->horizontalHeader()->setFont(font);
        stock.setFont(font);
        EXPECT_EQ(view()->horizontalHeader()->sizeHint().height(), stock.sizeHint().height())
            << points << " pt";
    }
}

TEST_F(ListCtrl, ItemTextRoundTripsCp936) {
    EXPECT_EQ(m_list->InsertItem(0, kZhangSan), 0);
    EXPECT_TRUE(m_list->SetItemText(0, 1, kUser));
    EXPECT_EQ(m_list->GetItemText(0, 0), CString(kZhangSan));
    EXPECT_EQ(m_list->GetItemText(0, 1), CString(kUser));
    EXPECT_EQ(view()->model()->index(0, 1).data().toString(), QStringLiteral("用户"));
    EXPECT_EQ(m_list->GetItemText(0, 3), CString(""));

    // A short buffer never ends in half a double-byte character.
    char buf[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(m_list->GetItemText(0, 1, buf, 4), 2);
    EXPECT_EQ(QByteArray(buf), QByteArray("\xd3\xc3"));
    char wide[36] = {};
    EXPECT_EQ(m_list->GetItemText(0, 1, wide, int(sizeof wide)), 4);
    EXPECT_EQ(QByteArray(wide), QByteArray(kUser));

    // Insertion keeps order: in front shifts, past the end appends.
    EXPECT_EQ(m_list->InsertItem(0, "first"), 0);
    EXPECT_EQ(m_list->InsertItem(100, "last"), 2);
    EXPECT_EQ(m_list->GetItemText(1, 0), CString(kZhangSan));
    EXPECT_EQ(m_list->GetItemText(2, 0), CString("last"));
}

TEST_F(ListCtrl, EditsInAnyOrderKeepEveryCell) {
    // Rows grown out of their place, deleted, and columns added and dropped
    // in between, against a plain table of the same edits.
    std::vector<std::vector<std::string>> want;
    const auto cellOf = [&](std::size_t r, std::size_t c) {
        return c < want[r].size() ? want[r][c] : std::string();
    };
    unsigned seed = 7;
    const auto next = [&](unsigned n) { return (seed = seed * 1103515245u + 12345u) / 65536 % n; };
    // Many edits go to the row inserted last, as a list filled row by row.
    unsigned inserted = 0;
    for (int step = 0; step < 4000; ++step) {
        // A long run of deletions in the middle leaves most of the stored
        // bytes unused, as emptying a large list row by row does.
        const unsigned op = step >= 2000 && step < 2600 ? 17 : next(20);
        const unsigned rows = unsigned(want.size());
        const int cols = m_list->GetColumnCount();
        const std::string text(next(40), char('a' + step % 26));
        if (op < 4 || rows == 0) {
            const unsigned at = next(rows + 1);
            ASSERT_EQ(m_list->InsertItem(int(at), text.c_str()), int(at));
            want.insert(want.begin() + at, {text});
            inserted = at;
        } else if (op < 16) {
            const unsigned r = op < 10 ? std::min(inserted, rows - 1) : next(rows);
            const unsigned c = next(unsigned(cols));
            ASSERT_TRUE(m_list->SetItemText(int(r), int(c), text.c_str()));
            if (want[r].size() <= c) want[r].resize(c + 1);
            want[r][c] = text;
        } else if (op < 18) {
            const unsigned r = next(rows);
            ASSERT_TRUE(m_list->DeleteItem(int(r)));
            want.erase(want.begin() + r);
        } else if (op == 18 && cols < 6) {
            const unsigned c = next(unsigned(cols) + 1);
            ASSERT_EQ(m_list->InsertColumn(int(c), "c", LVCFMT_LEFT, 20), int(c));
            for (auto& cells : want)
                if (c < cells.size()) cells.insert(cells.begin() + c, std::string());
        } else if (op == 19 && cols > 2) {
            const unsigned c = next(unsigned(cols));
            ASSERT_TRUE(m_list->DeleteColumn(int(c)));
            for (auto& cells : want)
                if (c < cells.size()) cells.erase(cells.begin() + c);
        }
        if (step % 500 == 0) QCoreApplication::processEvents();
    }
    ASSERT_EQ(m_list->GetItemCount(), int(want.size()));
    for (std::size_t r = 0; r < want.size(); ++r)
        for (int c = 0; c < m_list->GetColumnCount(); ++c)
            ASSERT_EQ(m_list->GetItemText(int(r), c), CString(cellOf(r, std::size_t(c))))
                << "row " << r << " column " << c;
}

TEST_F(ListCtrl, CellsAddedToTheLastRowLandAfterColumnChanges) {
    // The row inserted last takes new cells at its end without a search;
    // columns inserted or deleted in between move where that end is.
    struct Case {
        std::function<void(CListCtrl&)> edit;
        std::vector<const char*> want;
    };
    const Case cases[] = {
        {[](CListCtrl& l) {
             l.SetItemText(0, 1, "b");
             l.InsertColumn(0, "new", LVCFMT_LEFT, 20);
             l.SetItemText(0, 3, "d");
         },
         {"", "a", "b", "d"}},
        {[](CListCtrl& l) {
             l.SetItemText(0, 1, "b");
             l.SetItemText(0, 2, "c");
             l.DeleteColumn(0);
             l.SetItemText(0, 2, "x");
         },
         {"b", "c", "x"}},
        {[](CListCtrl& l) {
             l.SetItemText(0, 0, "longer");
             l.SetItemText(0, 2, "c");
             l.SetItemText(0, 1, "b");
             l.SetItemText(0, 3, "d");
         },
         {"longer", "b", "c", "d"}},
    };
    for (const Case& c : cases) {
        createList(0);
        ASSERT_EQ(m_list->InsertItem(0, "a"), 0);
        c.edit(*m_list);
        for (std::size_t col = 0; col < c.want.size(); ++col)
            EXPECT_EQ(m_list->GetItemText(0, int(col)), CString(c.want[col])) << "column " << col;
    }
}

TEST_F(ListCtrl, RowsAddedWithoutAnEventAreThereForEverything) {
    fill(3);
    // Appended with no event between: the view learns of them late, but
    // nothing the program asks may tell.
    for (int i = 3; i < 60; ++i) {
        ASSERT_EQ(m_list->InsertItem(i, std::to_string(i).c_str()), i);
        m_list->SetItemText(i, 1, "late");
    }
    m_host->trace.clear();
    EXPECT_TRUE(m_list->SetItemState(59, LVIS_SELECTED, LVIS_SELECTED));
    EXPECT_EQ(m_host->trace, QStringList({"sel+ 59"}));
    EXPECT_TRUE(m_list->EnsureVisible(59, FALSE));
    CRect r;
    EXPECT_TRUE(m_list->GetSubItemRect(59, 1, LVIR_LABEL, r));
    EXPECT_EQ(view()->model()->rowCount(), 60);
    QCoreApplication::processEvents();
    int col = -1;
    EXPECT_EQ(m_list->SubItemHitTest(POINT{r.left + 2, r.top + 2}, &col), 59);
    EXPECT_EQ(col, 1);
    EXPECT_EQ(view()->model()->index(59, 1).data().toString(), QStringLiteral("late"));
}

TEST_F(ListCtrl, ListOfSeveralMegabytesKeepsEveryCell) {
    // Large enough that the stored rows grow in steps whose pages are mapped
    // ahead of use: what was written before a step must still be there.
    constexpr int kRows = 40000;
    const auto text = [](int row, int col) {
        return std::to_string(row) +
               std::string(std::size_t(20 + (row + col) % 17), char('a' + col));
    };
    for (int r = 0; r < kRows; ++r) {
        ASSERT_EQ(m_list->InsertItem(r, text(r, 0).c_str()), r);
        m_list->SetItemText(r, 1, text(r, 1).c_str());
    }
    QCoreApplication::processEvents();
    ASSERT_EQ(m_list->GetItemCount(), kRows);
    for (int r = 0; r < kRows; r += 997)
        for (int c = 0; c < 2; ++c)
            ASSERT_EQ(m_list->GetItemText(r, c), CString(text(r, c).c_str())) << r << "," << c;
    EXPECT_EQ(m_list->GetItemText(kRows - 1, 1), CString(text(kRows - 1, 1).c_str()));
}

TEST_F(ListCtrl, InvalidIndexesFailWithoutHarm) {
    fill(3);
    m_host->trace.clear();
    EXPECT_FALSE(m_list->SetItemText(3, 0, "x"));
    EXPECT_FALSE(m_list->SetItemText(-1, 0, "x"));
    EXPECT_FALSE(m_list->SetItemText(0, 4, "x"));
    EXPECT_EQ(m_list->GetItemText(5, 0), CString(""));
    EXPECT_EQ(m_list->GetItemText(0, -1), CString(""));
    char buf[8] = "keep";
    EXPECT_EQ(m_list->GetItemText(7, 0, buf, 8), 0);
    EXPECT_EQ(buf[0], '\0');
    EXPECT_EQ(m_list->GetItemText(0, 0, nullptr, 8), 0);
    EXPECT_FALSE(m_list->DeleteItem(3));
    EXPECT_FALSE(m_list->DeleteItem(-1));
    EXPECT_EQ(m_list->InsertItem(-2, "x"), -1);
    EXPECT_FALSE(m_list->SetItemState(7, LVIS_SELECTED, LVIS_SELECTED));
    EXPECT_EQ(m_list->GetItemState(7, LVIS_SELECTED), 0u);
    CRect r;
    EXPECT_FALSE(m_list->GetSubItemRect(3, 0, LVIR_BOUNDS, r));
    EXPECT_FALSE(m_list->GetSubItemRect(0, 4, LVIR_BOUNDS, r));
    EXPECT_FALSE(m_list->GetItemRect(3, &r, LVIR_BOUNDS));
    EXPECT_FALSE(m_list->EnsureVisible(9, FALSE));
    EXPECT_EQ(m_list->GetNextItem(-5, LVNI_SELECTED), -1);
    CListCtrl::POSITION none = nullptr;
    EXPECT_EQ(m_list->GetNextSelectedItem(none), -1);
    EXPECT_EQ(m_list->GetItemCount(), 3);
    EXPECT_EQ(m_list->GetItemText(2, 1), CString("user2"));
    EXPECT_TRUE(m_host->trace.isEmpty());

    // A list object without a window answers as an empty list.
    CListCtrl bare;
    EXPECT_EQ(bare.GetItemCount(), 0);
    EXPECT_EQ(bare.InsertItem(0, "x"), -1);
    EXPECT_EQ(bare.InsertColumn(0, "x"), -1);
    EXPECT_TRUE(bare.GetFirstSelectedItemPosition() == nullptr);
    int sub = 5;
    EXPECT_EQ(bare.SubItemHitTest(POINT{1, 1}, &sub), -1);
    EXPECT_EQ(sub, -1);
}

TEST_F(ListCtrl, HitTestFindsRowAndColumn) {
    fill(5);
    for (int row = 0; row < 5; ++row) {
        for (int col = 0; col < 4; ++col) {
            int sub = -9;
            const QPoint c = cellCenter(row, col);
            EXPECT_EQ(m_list->SubItemHitTest(POINT{c.x(), c.y()}, &sub), row);
            EXPECT_EQ(sub, col);
        }
    }
    // Client x 0 is the left edge of column 0; column 1 starts at 60.
    const int y = cellCenter(2, 0).y();
    int sub = -9;
    EXPECT_EQ(m_list->SubItemHitTest(POINT{59, y}, &sub), 2);
    EXPECT_EQ(sub, 0);
    EXPECT_EQ(m_list->SubItemHitTest(POINT{61, y}, &sub), 2);
    EXPECT_EQ(sub, 1);

    // Off the cells: below the last row, right of the last column, outside.
    CRect last;
    EXPECT_TRUE(m_list->GetSubItemRect(4, 1, LVIR_LABEL, last));
    EXPECT_EQ(m_list->SubItemHitTest(POINT{70, last.bottom + 3}, &sub), -1);
    EXPECT_EQ(sub, -1);
    EXPECT_EQ(m_list->SubItemHitTest(POINT{365, y}, &sub), -1);
    EXPECT_EQ(sub, -1);
    EXPECT_EQ(m_list->SubItemHitTest(POINT{-5, y}, &sub), -1);
    EXPECT_EQ(m_list->SubItemHitTest(POINT{5, -3}, nullptr), -1);

    // Scrolled, the same holds, and a real click lands where the test says.
    fill(200);
    EXPECT_TRUE(m_list->EnsureVisible(150, FALSE));
    QCoreApplication::processEvents();
    const QPoint c = cellCenter(150, 3);
    EXPECT_EQ(m_list->SubItemHitTest(POINT{c.x(), c.y()}, &sub), 150);
    EXPECT_EQ(sub, 3);
    m_host->trace.clear();
    click(Qt::LeftButton, c);
    EXPECT_EQ(m_host->trace.last(), QStringLiteral("click 150/3"));
}

TEST_F(ListCtrl, ClicksNotifyInOrder) {
    fill(5);
    m_host->trace.clear();
    const QPoint c21 = cellCenter(2, 1);
    click(Qt::LeftButton, c21);
    EXPECT_EQ(m_host->trace, QStringList({"ldown", "sel+ 2", "click 2/1"}));
    EXPECT_EQ(m_host->lastAction.x, c21.x());
    EXPECT_EQ(m_host->lastAction.y, c21.y());
    EXPECT_EQ(m_host->lastFrom, m_list->GetSafeHwnd());
    EXPECT_EQ(m_list->lastDown, CPoint(c21.x(), c21.y()));

    m_host->trace.clear();
    click(Qt::LeftButton, cellCenter(0, 3));
    EXPECT_EQ(m_host->trace, QStringList({"ldown", "sel- 2", "sel+ 0", "click 0/3"}));

    // Ctrl adds to the selection.
    m_host->trace.clear();
    click(Qt::LeftButton, cellCenter(3, 0), Qt::ControlModifier);
    EXPECT_EQ(m_host->trace, QStringList({"ldown", "sel+ 3", "click 3/0"}));
    EXPECT_EQ(selectedRows(), QList<int>({0, 3}));

    // Below the rows: nothing hit, the selection goes.
    CRect last;
    m_list->GetSubItemRect(4, 0, LVIR_BOUNDS, last);
    m_host->trace.clear();
    click(Qt::LeftButton, QPoint(30, last.bottom + 10));
    EXPECT_EQ(m_host->trace, QStringList({"ldown", "sel- 0", "sel- 3", "click -1/-1"}));
    EXPECT_EQ(m_list->GetSelectedCount(), 0u);
}

TEST_F(ListCtrl, RightClickSelectsTheRowFirst) {
    fill(5);
    m_list->SetItemState(1, LVIS_SELECTED, LVIS_SELECTED);
    m_host->trace.clear();
    click(Qt::RightButton, cellCenter(3, 2));
    EXPECT_EQ(m_host->trace, QStringList({"rdown", "sel- 1", "sel+ 3", "rclick 3/2"}));

    // On a row of a larger selection the selection stays as it is.
    m_list->SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
    m_host->trace.clear();
    click(Qt::RightButton, cellCenter(3, 1));
    EXPECT_EQ(m_host->trace, QStringList({"rdown", "rclick 3/1"}));
    EXPECT_EQ(selectedRows(), QList<int>({0, 3}));

    CRect last;
    m_list->GetSubItemRect(4, 0, LVIR_BOUNDS, last);
    m_host->trace.clear();
    click(Qt::RightButton, QPoint(30, last.bottom + 10));
    EXPECT_EQ(m_host->trace.last(), QStringLiteral("rclick -1/-1"));
}

// Shift+F10 and the Menu key, sent through the window to the list with the
// focus, ask for the context menu of the selected row: the notification of a
// right click on it, at a point on that row.
TEST_F(ListCtrl, MenuKeysAskForTheSelectedRowsContextMenu) {
    fill(40);
    view()->setFocus();
    ASSERT_TRUE(uitest::waitFor([&] { return QApplication::focusWidget() == view(); }));
    struct Case {
        const char* name;
        QList<int> selected;  // the last one selected is the current row
        UINT vk;
        UINT modifiers;
        QString expected;  // "" for no notification
    } cases[] = {
        {"Shift+F10 on the selected row", {3}, VK_F10, uitest::kShift, "rclick 3/0"},
        {"the Menu key", {7}, VK_APPS, uitest::kNoModifier, "rclick 7/0"},
        {"a row out of view is scrolled to", {38}, VK_F10, uitest::kShift, "rclick 38/0"},
        {"the current row of several", {2, 5}, VK_APPS, uitest::kNoModifier, "rclick 5/0"},
        {"no row selected", {}, VK_F10, uitest::kShift, "rclick -1/-1"},
        {"F10 alone is no menu key", {3}, VK_F10, uitest::kNoModifier, ""},
        {"nor Ctrl+Menu", {3}, VK_APPS, uitest::kControl, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_list->SetItemState(-1, 0, LVIS_SELECTED);
        for (int row : c.selected) {
            m_list->SetItemState(row, LVIS_SELECTED, LVIS_SELECTED);
            view()->selectionModel()->setCurrentIndex(view()->model()->index(row, 0),
                                                      QItemSelectionModel::NoUpdate);
        }
        m_host->trace.clear();
        m_host->lastAction = POINT{-9, -9};
        ASSERT_TRUE(uitest::sendKey(*m_host, c.vk, c.modifiers));
        QStringList clicks = m_host->trace.filter(QStringLiteral("click"));
        EXPECT_EQ(clicks, c.expected.isEmpty() ? QStringList() : QStringList(c.expected));
        // The key only asks: the selection stays as it was.
        QList<int> selected = c.selected;
        std::sort(selected.begin(), selected.end());
        EXPECT_EQ(selectedRows(), selected);
        if (c.expected.isEmpty() || c.selected.isEmpty()) continue;
        // The point lies on the row, which is in view.
        CRect row;
        m_list->GetSubItemRect(c.selected.last(), 0, LVIR_BOUNDS, row);
        const QPoint at(m_host->lastAction.x, m_host->lastAction.y);
        EXPECT_GE(at.y(), row.top);
        EXPECT_LE(at.y(), row.bottom);
        EXPECT_TRUE(view()->viewport()->rect().contains(at)) << at.x() << "," << at.y();
    }
}

TEST_F(ListCtrl, DoubleClickReportsTheCell) {
    fill(5);
    m_host->trace.clear();
    QTest::mouseDClick(m_host->window(), Qt::LeftButton, {}, toWindow(cellCenter(4, 2)));
    EXPECT_EQ(m_host->trace, QStringList({"ldown", "sel+ 4", "click 4/2", "dblclk 4/2"}));

    CRect last;
    m_list->GetSubItemRect(4, 0, LVIR_BOUNDS, last);
    m_host->trace.clear();
    QTest::mouseDClick(m_host->window(), Qt::LeftButton, {},
                       toWindow(QPoint(30, last.bottom + 10)));
    EXPECT_EQ(m_host->trace.last(), QStringLiteral("dblclk -1/-1"));
}

TEST_F(ListCtrl, SelectionIterates) {
    fill(6);
    click(Qt::LeftButton, cellCenter(1, 0));
    click(Qt::LeftButton, cellCenter(4, 0), Qt::ControlModifier);
    click(Qt::LeftButton, cellCenter(2, 0), Qt::ControlModifier);
    EXPECT_EQ(selectedRows(), QList<int>({1, 2, 4}));
    EXPECT_EQ(m_list->GetSelectedCount(), 3u);
    EXPECT_EQ(m_list->GetNextItem(-1, LVNI_SELECTED), 1);
    EXPECT_EQ(m_list->GetNextItem(1, LVNI_SELECTED), 2);
    EXPECT_EQ(m_list->GetNextItem(2, LVNI_SELECTED), 4);
    EXPECT_EQ(m_list->GetNextItem(4, LVNI_SELECTED), -1);
    EXPECT_EQ(m_list->GetItemState(2, LVIS_SELECTED), LVIS_SELECTED);
    EXPECT_EQ(m_list->GetItemState(3, LVIS_SELECTED), 0u);

    m_host->trace.clear();
    EXPECT_TRUE(m_list->SetItemState(2, 0, LVIS_SELECTED));
    EXPECT_EQ(m_host->trace, QStringList({"sel- 2"}));
    EXPECT_EQ(selectedRows(), QList<int>({1, 4}));

    EXPECT_EQ(m_list->GetNextItem(-1, LVNI_ALL), 0);
    EXPECT_EQ(m_list->GetNextItem(4, LVNI_ALL), 5);
    EXPECT_EQ(m_list->GetNextItem(5, LVNI_ALL), -1);
}

TEST_F(ListCtrl, SingleSelectionKeepsOneRow) {
    m_list.reset();
    createList(LVS_SINGLESEL);
    fill(5);
    click(Qt::LeftButton, cellCenter(1, 0));
    click(Qt::LeftButton, cellCenter(3, 0), Qt::ControlModifier);
    EXPECT_EQ(selectedRows(), QList<int>({3}));

    m_host->trace.clear();
    EXPECT_TRUE(m_list->SetItemState(0, LVIS_SELECTED, LVIS_SELECTED));
    EXPECT_EQ(m_host->trace, QStringList({"sel- 3", "sel+ 0"}));
    EXPECT_TRUE(m_list->SetItemState(-1, LVIS_SELECTED, LVIS_SELECTED));
    EXPECT_EQ(selectedRows(), QList<int>({0}));
}

TEST_F(ListCtrl, SelectingAllNotifiesOnce) {
    fill(50);
    m_host->trace.clear();
    EXPECT_TRUE(m_list->SetItemState(-1, LVIS_SELECTED, LVIS_SELECTED));
    EXPECT_EQ(m_host->trace, QStringList({"sel+ -1"}));
    EXPECT_EQ(m_list->GetSelectedCount(), 50u);

    m_host->trace.clear();
    EXPECT_TRUE(m_list->SetItemState(-1, 0, LVIS_SELECTED));
    EXPECT_EQ(m_host->trace, QStringList({"sel- -1"}));
    EXPECT_EQ(m_list->GetSelectedCount(), 0u);

    // Nothing changes, nothing is reported.
    m_host->trace.clear();
    EXPECT_TRUE(m_list->SetItemState(-1, 0, LVIS_SELECTED));
    EXPECT_TRUE(m_host->trace.isEmpty());
}

TEST_F(ListCtrl, DeletingRowsKeepsSelectionOnItsRow) {
    fill(5);
    m_list->SetItemState(3, LVIS_SELECTED, LVIS_SELECTED);
    m_host->trace.clear();
    EXPECT_TRUE(m_list->DeleteItem(1));
    EXPECT_EQ(m_list->GetItemCount(), 4);
    EXPECT_EQ(m_list->GetItemText(2, 1), CString("user3"));
    EXPECT_EQ(m_list->GetNextItem(-1, LVNI_SELECTED), 2);

    // Deleting the selected row drops it from the selection without a
    // selection notification, as the original list does.
    EXPECT_TRUE(m_list->DeleteItem(2));
    EXPECT_EQ(m_list->GetSelectedCount(), 0u);
    EXPECT_EQ(m_list->GetItemText(2, 1), CString("user4"));
    EXPECT_TRUE(m_host->trace.isEmpty());

    m_list->SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
    EXPECT_TRUE(m_list->DeleteAllItems());
    EXPECT_EQ(m_list->GetItemCount(), 0);
    EXPECT_TRUE(m_list->GetFirstSelectedItemPosition() == nullptr);
    EXPECT_EQ(m_list->InsertItem(0, "again"), 0);
}

TEST_F(ListCtrl, SubItemRectTakesChildOverTheCell) {
    fill(200);
    EXPECT_TRUE(m_list->EnsureVisible(120, FALSE));
    QCoreApplication::processEvents();

    CRect r;
    EXPECT_TRUE(m_list->GetSubItemRect(120, 2, LVIR_BOUNDS, r));
    CEdit edit;
    EXPECT_TRUE(edit.Create(WS_CHILD | WS_BORDER, CRect(0, 0, 100, 20), m_list.get(), kEditId));
    edit.MoveWindow(&r);
    edit.ShowWindow(SW_SHOW);
    QWidget* editWidget = ui::detail::widgetOf(&edit);
    EXPECT_EQ(editWidget->size(), QSize(r.Width(), r.Height()));

    // The edit covers the cell on screen: what is under its centre is the
    // edit, and with the edit hidden a click there hits that very cell.
    const QPoint global = editWidget->mapToGlobal(editWidget->rect().center());
    EXPECT_EQ(QApplication::widgetAt(global), editWidget);
    edit.ShowWindow(SW_HIDE);
    m_host->trace.clear();
    QTest::mouseClick(m_host->window(), Qt::LeftButton, {},
                      m_host->widget()->mapFromGlobal(global));
    EXPECT_EQ(m_host->trace.last(), QStringLiteral("click 120/2"));

    // Column 0's bounds are the whole row; its label is the first cell.
    CRect row, label;
    EXPECT_TRUE(m_list->GetSubItemRect(120, 0, LVIR_BOUNDS, row));
    EXPECT_TRUE(m_list->GetSubItemRect(120, 0, LVIR_LABEL, label));
    EXPECT_EQ(row.Width(), 360);
    EXPECT_EQ(label.Width(), 60);
    EXPECT_EQ(row.top, r.top);
    EXPECT_EQ(row.left, label.left);
}

TEST_F(ListCtrl, MessageMapSeesPressesFirst) {
    fill(5);
    m_list->passOn = false;
    m_host->trace.clear();
    const QPoint c = cellCenter(2, 1);
    click(Qt::LeftButton, c);
    click(Qt::RightButton, cellCenter(3, 1));
    // Swallowed: no selection and no notification.
    EXPECT_EQ(m_host->trace, QStringList({"ldown", "rdown"}));
    EXPECT_EQ(m_list->GetSelectedCount(), 0u);
    EXPECT_EQ(m_list->lastDown, CPoint(c.x(), c.y()));

    m_list->passOn = true;
    m_host->trace.clear();
    click(Qt::LeftButton, c);
    EXPECT_EQ(m_host->trace, QStringList({"ldown", "sel+ 2", "click 2/1"}));
}

TEST_F(ListCtrl, ScrollBarAndWheelGoThroughMessages) {
    fill(300);
    QScrollBar* bar = view()->verticalScrollBar();
    ASSERT_TRUE(uitest::waitFor([&] { return bar->isVisible(); }));
    EXPECT_EQ(bar->value(), 0);
    // Below the slider: a page down.
    const QPoint trough =
        bar->mapTo(m_host->widget(), QPoint(bar->width() / 2, bar->height() * 3 / 4));

    m_list->passOn = false;
    m_host->trace.clear();
    QTest::mouseClick(m_host->window(), Qt::LeftButton, {}, trough);
    EXPECT_EQ(m_host->trace, QStringList({"vscroll 3"}));
    EXPECT_EQ(bar->value(), 0);

    m_list->passOn = true;
    m_host->trace.clear();
    QTest::mouseClick(m_host->window(), Qt::LeftButton, {}, trough);
    EXPECT_EQ(m_host->trace, QStringList({"vscroll 3"}));
    EXPECT_TRUE(bar->value() > 0);

    bar->setValue(0);
    const QPoint inside = cellCenter(1, 1);
    auto wheel = [&] {
        QWidget* viewport = view()->viewport();
        QWheelEvent ev(QPointF(inside), QPointF(viewport->mapToGlobal(inside)), QPoint(),
                       QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(viewport, &ev);
    };
    m_list->passOn = false;
    m_host->trace.clear();
    wheel();
    EXPECT_EQ(m_host->trace, QStringList({"wheel -120"}));
    EXPECT_EQ(bar->value(), 0);

    m_list->passOn = true;
    wheel();
    EXPECT_TRUE(bar->value() > 0);
}
