// The list control: hit-testing, notifications and their order, selection,
// columns, cell rectangles under child windows, CP936 text, and mouse
// messages that a subclass's message map sees before the list acts.
#include <QAbstractItemModel>
#include <QHeaderView>
#include <QScrollBar>
#include <QTreeView>
#include <QWheelEvent>
#include <QtTest>
#include <memory>

#include "ui_test_support.h"

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

class TestListCtrl : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void columnsKeepHeadingsWidthsAndSubItems();
    void itemTextRoundTripsCp936();
    void invalidIndexesFailWithoutHarm();
    void hitTestFindsRowAndColumn();
    void clicksNotifyInOrder();
    void rightClickSelectsTheRowFirst();
    void doubleClickReportsTheCell();
    void selectionIterates();
    void singleSelectionKeepsOneRow();
    void selectingAllNotifiesOnce();
    void deletingRowsKeepsSelectionOnItsRow();
    void subItemRectTakesChildOverTheCell();
    void messageMapSeesPressesFirst();
    void scrollBarAndWheelGoThroughMessages();

private:
    void createList(DWORD extraStyle);
    void fill(int rows);
    QTreeView* view() const { return dynamic_cast<QTreeView*>(ui::detail::widgetOf(m_list.get())); }
    QPoint cellCenter(int row, int col) const;
    QPoint toWindow(QPoint clientPt) const {
        return view()->viewport()->mapTo(m_host->widget(), clientPt);
    }
    void click(Qt::MouseButton button, QPoint clientPt, Qt::KeyboardModifiers mods = {}) {
        QTest::mouseClick(m_host->window(), button, mods, toWindow(clientPt));
    }
    QList<int> selectedRows() const;

    std::unique_ptr<uitest::Watchdog> m_watchdog;
    std::unique_ptr<ListHost> m_host;
    std::unique_ptr<InterceptingList> m_list;
};

void TestListCtrl::init() {
    m_watchdog = std::make_unique<uitest::Watchdog>();
    m_host = std::make_unique<ListHost>();
    createList(0);
    QVERIFY(m_host->showAndWait());
}

void TestListCtrl::createList(DWORD extraStyle) {
    m_list = std::make_unique<InterceptingList>();
    m_list->log = &m_host->trace;
    QVERIFY(m_list->Create(WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | LVS_REPORT | extraStyle,
                           CRect(10, 10, 410, 310), m_host.get(), kListId));
    // 360 pixels of columns in a wider list: there is room right of them.
    QCOMPARE(m_list->InsertColumn(0, "No", LVCFMT_LEFT, 60), 0);
    QCOMPARE(m_list->InsertColumn(1, kUserName, LVCFMT_LEFT, 120), 1);
    QCOMPARE(m_list->InsertColumn(2, "Level", LVCFMT_LEFT, 80), 2);
    QCOMPARE(m_list->InsertColumn(3, "Bits", LVCFMT_LEFT, 100), 3);
    m_list->SetExtendedStyle(LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
}

void TestListCtrl::cleanup() {
    m_list.reset();
    m_host.reset();
    QVERIFY(!m_watchdog->fired());
    m_watchdog.reset();
    QVERIFY(uitest::noWindowLeft());
}

void TestListCtrl::fill(int rows) {
    for (int i = 0; i < rows; ++i) {
        const std::string n = std::to_string(i);
        QCOMPARE(m_list->InsertItem(i, n.c_str()), i);
        m_list->SetItemText(i, 1, ("user" + n).c_str());
        m_list->SetItemText(i, 2, "Level_1");
    }
    QCoreApplication::processEvents();
}

QPoint TestListCtrl::cellCenter(int row, int col) const {
    CRect r;
    if (!m_list->GetSubItemRect(row, col, LVIR_LABEL, r)) return QPoint(-1000, -1000);
    return QPoint(r.left + r.Width() / 2, r.top + r.Height() / 2);
}

QList<int> TestListCtrl::selectedRows() const {
    QList<int> rows;
    CListCtrl::POSITION pos = m_list->GetFirstSelectedItemPosition();
    while (pos) rows << m_list->GetNextSelectedItem(pos);
    return rows;
}

void TestListCtrl::columnsKeepHeadingsWidthsAndSubItems() {
    QCOMPARE(m_list->GetColumnCount(), 4);
    QCOMPARE(m_list->GetColumnWidth(1), 120);
    QVERIFY(m_list->SetColumnWidth(1, 150));
    QCOMPARE(m_list->GetColumnWidth(1), 150);
    // The heading came in as CP936 and shows as Unicode.
    QCOMPARE(view()->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("用户名"));

    // A position past the end appends; a negative one is refused.
    QCOMPARE(m_list->InsertColumn(99, "Extra", LVCFMT_LEFT, 50), 4);
    QCOMPARE(m_list->InsertColumn(-1, "Bad", LVCFMT_LEFT, 50), -1);
    QVERIFY(m_list->DeleteColumn(4));
    QVERIFY(!m_list->DeleteColumn(4));
    QCOMPARE(m_list->GetColumnWidth(9), 0);
    QVERIFY(!m_list->SetColumnWidth(9, 10));

    // Without a width the column is still wide enough to read its heading.
    QCOMPARE(m_list->InsertColumn(4, kUser), 4);
    QVERIFY(m_list->GetColumnWidth(4) > 10);
    QVERIFY(m_list->DeleteColumn(4));

    // A column inserted between filled ones moves the later sub-items right.
    fill(2);
    QCOMPARE(m_list->InsertColumn(1, "Mid", LVCFMT_LEFT, 40), 1);
    QCOMPARE(m_list->GetItemText(1, 0), CString("1"));
    QCOMPARE(m_list->GetItemText(1, 1), CString(""));
    QCOMPARE(m_list->GetItemText(1, 2), CString("user1"));
    QVERIFY(m_list->DeleteColumn(1));
    QCOMPARE(m_list->GetItemText(1, 1), CString("user1"));
}

void TestListCtrl::itemTextRoundTripsCp936() {
    QCOMPARE(m_list->InsertItem(0, kZhangSan), 0);
    QVERIFY(m_list->SetItemText(0, 1, kUser));
    QCOMPARE(m_list->GetItemText(0, 0), CString(kZhangSan));
    QCOMPARE(m_list->GetItemText(0, 1), CString(kUser));
    QCOMPARE(view()->model()->index(0, 1).data().toString(), QStringLiteral("用户"));
    QCOMPARE(m_list->GetItemText(0, 3), CString(""));

    // A short buffer never ends in half a double-byte character.
    char buf[4] = {'x', 'x', 'x', 'x'};
    QCOMPARE(m_list->GetItemText(0, 1, buf, 4), 2);
    QCOMPARE(QByteArray(buf), QByteArray("\xd3\xc3"));
    char wide[36] = {};
    QCOMPARE(m_list->GetItemText(0, 1, wide, int(sizeof wide)), 4);
    QCOMPARE(QByteArray(wide), QByteArray(kUser));

    // Insertion keeps order: in front shifts, past the end appends.
    QCOMPARE(m_list->InsertItem(0, "first"), 0);
    QCOMPARE(m_list->InsertItem(100, "last"), 2);
    QCOMPARE(m_list->GetItemText(1, 0), CString(kZhangSan));
    QCOMPARE(m_list->GetItemText(2, 0), CString("last"));
}

void TestListCtrl::invalidIndexesFailWithoutHarm() {
    fill(3);
    m_host->trace.clear();
    QVERIFY(!m_list->SetItemText(3, 0, "x"));
    QVERIFY(!m_list->SetItemText(-1, 0, "x"));
    QVERIFY(!m_list->SetItemText(0, 4, "x"));
    QCOMPARE(m_list->GetItemText(5, 0), CString(""));
    QCOMPARE(m_list->GetItemText(0, -1), CString(""));
    char buf[8] = "keep";
    QCOMPARE(m_list->GetItemText(7, 0, buf, 8), 0);
    QCOMPARE(buf[0], '\0');
    QCOMPARE(m_list->GetItemText(0, 0, nullptr, 8), 0);
    QVERIFY(!m_list->DeleteItem(3));
    QVERIFY(!m_list->DeleteItem(-1));
    QCOMPARE(m_list->InsertItem(-2, "x"), -1);
    QVERIFY(!m_list->SetItemState(7, LVIS_SELECTED, LVIS_SELECTED));
    QCOMPARE(m_list->GetItemState(7, LVIS_SELECTED), 0u);
    CRect r;
    QVERIFY(!m_list->GetSubItemRect(3, 0, LVIR_BOUNDS, r));
    QVERIFY(!m_list->GetSubItemRect(0, 4, LVIR_BOUNDS, r));
    QVERIFY(!m_list->GetItemRect(3, &r, LVIR_BOUNDS));
    QVERIFY(!m_list->EnsureVisible(9, FALSE));
    QCOMPARE(m_list->GetNextItem(-5, LVNI_SELECTED), -1);
    CListCtrl::POSITION none = nullptr;
    QCOMPARE(m_list->GetNextSelectedItem(none), -1);
    QCOMPARE(m_list->GetItemCount(), 3);
    QCOMPARE(m_list->GetItemText(2, 1), CString("user2"));
    QVERIFY(m_host->trace.isEmpty());

    // A list object without a window answers as an empty list.
    CListCtrl bare;
    QCOMPARE(bare.GetItemCount(), 0);
    QCOMPARE(bare.InsertItem(0, "x"), -1);
    QCOMPARE(bare.InsertColumn(0, "x"), -1);
    QVERIFY(bare.GetFirstSelectedItemPosition() == nullptr);
    int sub = 5;
    QCOMPARE(bare.SubItemHitTest(POINT{1, 1}, &sub), -1);
    QCOMPARE(sub, -1);
}

void TestListCtrl::hitTestFindsRowAndColumn() {
    fill(5);
    for (int row = 0; row < 5; ++row) {
        for (int col = 0; col < 4; ++col) {
            int sub = -9;
            const QPoint c = cellCenter(row, col);
            QCOMPARE(m_list->SubItemHitTest(POINT{c.x(), c.y()}, &sub), row);
            QCOMPARE(sub, col);
        }
    }
    // Client x 0 is the left edge of column 0; column 1 starts at 60.
    const int y = cellCenter(2, 0).y();
    int sub = -9;
    QCOMPARE(m_list->SubItemHitTest(POINT{59, y}, &sub), 2);
    QCOMPARE(sub, 0);
    QCOMPARE(m_list->SubItemHitTest(POINT{61, y}, &sub), 2);
    QCOMPARE(sub, 1);

    // Off the cells: below the last row, right of the last column, outside.
    CRect last;
    QVERIFY(m_list->GetSubItemRect(4, 1, LVIR_LABEL, last));
    QCOMPARE(m_list->SubItemHitTest(POINT{70, last.bottom + 3}, &sub), -1);
    QCOMPARE(sub, -1);
    QCOMPARE(m_list->SubItemHitTest(POINT{365, y}, &sub), -1);
    QCOMPARE(sub, -1);
    QCOMPARE(m_list->SubItemHitTest(POINT{-5, y}, &sub), -1);
    QCOMPARE(m_list->SubItemHitTest(POINT{5, -3}, nullptr), -1);

    // Scrolled, the same holds, and a real click lands where the test says.
    fill(200);
    QVERIFY(m_list->EnsureVisible(150, FALSE));
    QCoreApplication::processEvents();
    const QPoint c = cellCenter(150, 3);
    QCOMPARE(m_list->SubItemHitTest(POINT{c.x(), c.y()}, &sub), 150);
    QCOMPARE(sub, 3);
    m_host->trace.clear();
    click(Qt::LeftButton, c);
    QCOMPARE(m_host->trace.last(), QStringLiteral("click 150/3"));
}

void TestListCtrl::clicksNotifyInOrder() {
    fill(5);
    m_host->trace.clear();
    const QPoint c21 = cellCenter(2, 1);
    click(Qt::LeftButton, c21);
    QCOMPARE(m_host->trace, QStringList({"ldown", "sel+ 2", "click 2/1"}));
    QCOMPARE(m_host->lastAction.x, c21.x());
    QCOMPARE(m_host->lastAction.y, c21.y());
    QCOMPARE(m_host->lastFrom, m_list->GetSafeHwnd());
    QCOMPARE(m_list->lastDown, CPoint(c21.x(), c21.y()));

    m_host->trace.clear();
    click(Qt::LeftButton, cellCenter(0, 3));
    QCOMPARE(m_host->trace, QStringList({"ldown", "sel- 2", "sel+ 0", "click 0/3"}));

    // Ctrl adds to the selection.
    m_host->trace.clear();
    click(Qt::LeftButton, cellCenter(3, 0), Qt::ControlModifier);
    QCOMPARE(m_host->trace, QStringList({"ldown", "sel+ 3", "click 3/0"}));
    QCOMPARE(selectedRows(), QList<int>({0, 3}));

    // Below the rows: nothing hit, the selection goes.
    CRect last;
    m_list->GetSubItemRect(4, 0, LVIR_BOUNDS, last);
    m_host->trace.clear();
    click(Qt::LeftButton, QPoint(30, last.bottom + 10));
    QCOMPARE(m_host->trace, QStringList({"ldown", "sel- 0", "sel- 3", "click -1/-1"}));
    QCOMPARE(m_list->GetSelectedCount(), 0u);
}

void TestListCtrl::rightClickSelectsTheRowFirst() {
    fill(5);
    m_list->SetItemState(1, LVIS_SELECTED, LVIS_SELECTED);
    m_host->trace.clear();
    click(Qt::RightButton, cellCenter(3, 2));
    QCOMPARE(m_host->trace, QStringList({"rdown", "sel- 1", "sel+ 3", "rclick 3/2"}));

    // On a row of a larger selection the selection stays as it is.
    m_list->SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
    m_host->trace.clear();
    click(Qt::RightButton, cellCenter(3, 1));
    QCOMPARE(m_host->trace, QStringList({"rdown", "rclick 3/1"}));
    QCOMPARE(selectedRows(), QList<int>({0, 3}));

    CRect last;
    m_list->GetSubItemRect(4, 0, LVIR_BOUNDS, last);
    m_host->trace.clear();
    click(Qt::RightButton, QPoint(30, last.bottom + 10));
    QCOMPARE(m_host->trace.last(), QStringLiteral("rclick -1/-1"));
}

void TestListCtrl::doubleClickReportsTheCell() {
    fill(5);
    m_host->trace.clear();
    QTest::mouseDClick(m_host->window(), Qt::LeftButton, {}, toWindow(cellCenter(4, 2)));
    QCOMPARE(m_host->trace, QStringList({"ldown", "sel+ 4", "click 4/2", "dblclk 4/2"}));

    CRect last;
    m_list->GetSubItemRect(4, 0, LVIR_BOUNDS, last);
    m_host->trace.clear();
    QTest::mouseDClick(m_host->window(), Qt::LeftButton, {},
                       toWindow(QPoint(30, last.bottom + 10)));
    QCOMPARE(m_host->trace.last(), QStringLiteral("dblclk -1/-1"));
}

void TestListCtrl::selectionIterates() {
    fill(6);
    click(Qt::LeftButton, cellCenter(1, 0));
    click(Qt::LeftButton, cellCenter(4, 0), Qt::ControlModifier);
    click(Qt::LeftButton, cellCenter(2, 0), Qt::ControlModifier);
    QCOMPARE(selectedRows(), QList<int>({1, 2, 4}));
    QCOMPARE(m_list->GetSelectedCount(), 3u);
    QCOMPARE(m_list->GetNextItem(-1, LVNI_SELECTED), 1);
    QCOMPARE(m_list->GetNextItem(1, LVNI_SELECTED), 2);
    QCOMPARE(m_list->GetNextItem(2, LVNI_SELECTED), 4);
    QCOMPARE(m_list->GetNextItem(4, LVNI_SELECTED), -1);
    QCOMPARE(m_list->GetItemState(2, LVIS_SELECTED), LVIS_SELECTED);
    QCOMPARE(m_list->GetItemState(3, LVIS_SELECTED), 0u);

    m_host->trace.clear();
    QVERIFY(m_list->SetItemState(2, 0, LVIS_SELECTED));
    QCOMPARE(m_host->trace, QStringList({"sel- 2"}));
    QCOMPARE(selectedRows(), QList<int>({1, 4}));

    QCOMPARE(m_list->GetNextItem(-1, LVNI_ALL), 0);
    QCOMPARE(m_list->GetNextItem(4, LVNI_ALL), 5);
    QCOMPARE(m_list->GetNextItem(5, LVNI_ALL), -1);
}

void TestListCtrl::singleSelectionKeepsOneRow() {
    m_list.reset();
    createList(LVS_SINGLESEL);
    fill(5);
    click(Qt::LeftButton, cellCenter(1, 0));
    click(Qt::LeftButton, cellCenter(3, 0), Qt::ControlModifier);
    QCOMPARE(selectedRows(), QList<int>({3}));

    m_host->trace.clear();
    QVERIFY(m_list->SetItemState(0, LVIS_SELECTED, LVIS_SELECTED));
    QCOMPARE(m_host->trace, QStringList({"sel- 3", "sel+ 0"}));
    QVERIFY(m_list->SetItemState(-1, LVIS_SELECTED, LVIS_SELECTED));
    QCOMPARE(selectedRows(), QList<int>({0}));
}

void TestListCtrl::selectingAllNotifiesOnce() {
    fill(50);
    m_host->trace.clear();
    QVERIFY(m_list->SetItemState(-1, LVIS_SELECTED, LVIS_SELECTED));
    QCOMPARE(m_host->trace, QStringList({"sel+ -1"}));
    QCOMPARE(m_list->GetSelectedCount(), 50u);

    m_host->trace.clear();
    QVERIFY(m_list->SetItemState(-1, 0, LVIS_SELECTED));
    QCOMPARE(m_host->trace, QStringList({"sel- -1"}));
    QCOMPARE(m_list->GetSelectedCount(), 0u);

    // Nothing changes, nothing is reported.
    m_host->trace.clear();
    QVERIFY(m_list->SetItemState(-1, 0, LVIS_SELECTED));
    QVERIFY(m_host->trace.isEmpty());
}

void TestListCtrl::deletingRowsKeepsSelectionOnItsRow() {
    fill(5);
    m_list->SetItemState(3, LVIS_SELECTED, LVIS_SELECTED);
    m_host->trace.clear();
    QVERIFY(m_list->DeleteItem(1));
    QCOMPARE(m_list->GetItemCount(), 4);
    QCOMPARE(m_list->GetItemText(2, 1), CString("user3"));
    QCOMPARE(m_list->GetNextItem(-1, LVNI_SELECTED), 2);

    // Deleting the selected row drops it from the selection without a
    // selection notification, as the original list does.
    QVERIFY(m_list->DeleteItem(2));
    QCOMPARE(m_list->GetSelectedCount(), 0u);
    QCOMPARE(m_list->GetItemText(2, 1), CString("user4"));
    QVERIFY(m_host->trace.isEmpty());

    m_list->SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
    QVERIFY(m_list->DeleteAllItems());
    QCOMPARE(m_list->GetItemCount(), 0);
    QVERIFY(m_list->GetFirstSelectedItemPosition() == nullptr);
    QCOMPARE(m_list->InsertItem(0, "again"), 0);
}

void TestListCtrl::subItemRectTakesChildOverTheCell() {
    fill(200);
    QVERIFY(m_list->EnsureVisible(120, FALSE));
    QCoreApplication::processEvents();

    CRect r;
    QVERIFY(m_list->GetSubItemRect(120, 2, LVIR_BOUNDS, r));
    CEdit edit;
    QVERIFY(edit.Create(WS_CHILD | WS_BORDER, CRect(0, 0, 100, 20), m_list.get(), kEditId));
    edit.MoveWindow(&r);
    edit.ShowWindow(SW_SHOW);
    QWidget* editWidget = ui::detail::widgetOf(&edit);
    QCOMPARE(editWidget->size(), QSize(r.Width(), r.Height()));

    // The edit covers the cell on screen: what is under its centre is the
    // edit, and with the edit hidden a click there hits that very cell.
    const QPoint global = editWidget->mapToGlobal(editWidget->rect().center());
    QCOMPARE(QApplication::widgetAt(global), editWidget);
    edit.ShowWindow(SW_HIDE);
    m_host->trace.clear();
    QTest::mouseClick(m_host->window(), Qt::LeftButton, {},
                      m_host->widget()->mapFromGlobal(global));
    QCOMPARE(m_host->trace.last(), QStringLiteral("click 120/2"));

    // Column 0's bounds are the whole row; its label is the first cell.
    CRect row, label;
    QVERIFY(m_list->GetSubItemRect(120, 0, LVIR_BOUNDS, row));
    QVERIFY(m_list->GetSubItemRect(120, 0, LVIR_LABEL, label));
    QCOMPARE(row.Width(), 360);
    QCOMPARE(label.Width(), 60);
    QCOMPARE(row.top, r.top);
    QCOMPARE(row.left, label.left);
}

void TestListCtrl::messageMapSeesPressesFirst() {
    fill(5);
    m_list->passOn = false;
    m_host->trace.clear();
    const QPoint c = cellCenter(2, 1);
    click(Qt::LeftButton, c);
    click(Qt::RightButton, cellCenter(3, 1));
    // Swallowed: no selection and no notification.
    QCOMPARE(m_host->trace, QStringList({"ldown", "rdown"}));
    QCOMPARE(m_list->GetSelectedCount(), 0u);
    QCOMPARE(m_list->lastDown, CPoint(c.x(), c.y()));

    m_list->passOn = true;
    m_host->trace.clear();
    click(Qt::LeftButton, c);
    QCOMPARE(m_host->trace, QStringList({"ldown", "sel+ 2", "click 2/1"}));
}

void TestListCtrl::scrollBarAndWheelGoThroughMessages() {
    fill(300);
    QScrollBar* bar = view()->verticalScrollBar();
    QTRY_VERIFY(bar->isVisible());
    QCOMPARE(bar->value(), 0);
    // Below the slider: a page down.
    const QPoint trough =
        bar->mapTo(m_host->widget(), QPoint(bar->width() / 2, bar->height() * 3 / 4));

    m_list->passOn = false;
    m_host->trace.clear();
    QTest::mouseClick(m_host->window(), Qt::LeftButton, {}, trough);
    QCOMPARE(m_host->trace, QStringList({"vscroll 3"}));
    QCOMPARE(bar->value(), 0);

    m_list->passOn = true;
    m_host->trace.clear();
    QTest::mouseClick(m_host->window(), Qt::LeftButton, {}, trough);
    QCOMPARE(m_host->trace, QStringList({"vscroll 3"}));
    QVERIFY(bar->value() > 0);

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
    QCOMPARE(m_host->trace, QStringList({"wheel -120"}));
    QCOMPARE(bar->value(), 0);

    m_list->passOn = true;
    wheel();
    QVERIFY(bar->value() > 0);
}

QTEST_MAIN(TestListCtrl)
#include "test_listctrl.moc"
