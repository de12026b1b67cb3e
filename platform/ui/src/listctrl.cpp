// CListCtrl: a report-view list. The control's API over a Qt model of its
// rows (kept in a RowStore) and one QTableView that shows them.
//
// Coordinates: the list's client area is its viewport (the part below the
// header, inside the frame). Mouse messages, ptAction, SubItemHitTest and
// GetSubItemRect all use it, and child windows of the list live in the
// viewport (property "ui_child_host"), so MoveWindow onto a cell rectangle
// covers the cell exactly.
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QStyleOptionFocusRect>
#include <QStyleOptionSlider>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QWheelEvent>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "cp936.h"
#include "dispatch.h"
#include "handle.h"
#include "language.h"
#include "rowstore.h"
#include "widgets.h"

namespace ui::detail {
namespace {

// Format and state flags the public header does not name.
constexpr int kLvcfmtRight = 0x0001;
constexpr int kLvcfmtCenter = 0x0002;
constexpr int kLvcfmtJustifyMask = 0x0003;
constexpr UINT kLvniFocused = 0x0001;
constexpr UINT kSbLineUp = 0;
constexpr UINT kSbLineDown = 1;
constexpr UINT kSbPageUp = 2;
constexpr UINT kSbPageDown = 3;
constexpr UINT kSbThumbTrack = 5;
constexpr WPARAM kMkLButton = 0x0001;
constexpr WPARAM kMkRButton = 0x0002;
constexpr WPARAM kMkShift = 0x0004;
constexpr WPARAM kMkControl = 0x0008;

// The list's rows as Qt's views see them: the cells of a RowStore, which
// holds CP936 bytes as the program gave them, made Unicode in data() for the
// rows the view paints.
//
// Rows appended while no event is processed are told to the views as one
// insertion when control returns to the event loop, or as soon as anything
// asks the view about rows, instead of one insertion per call. Until then
// they are the model's but not yet the views': rowCount() counts what the
// views were told, size() every row.
class ListModel final : public QAbstractTableModel {
public:
    struct Column {
        std::string heading;
        int format = LVCFMT_LEFT;
    };

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : m_shown;
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : int(m_columns.size());
    }
    int size() const { return m_rows.size(); }

    // Rows not yet shown have their indexes too, so data() reads every row.
    QModelIndex index(int row, int col, const QModelIndex& parent = {}) const override {
        if (parent.isValid() || row < 0 || row >= size() || col < 0 || col >= columnCount())
            return {};
        return createIndex(row, col);
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid()) return {};
        if (role == Qt::DisplayRole) return decodeCp936(cell(index.row(), index.column()));
        if (role == Qt::TextAlignmentRole) return alignment(index.column());
        return {};
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || section < 0 || section >= columnCount()) return {};
        if (role == Qt::DisplayRole) return decodeCp936(m_columns[std::size_t(section)].heading);
        if (role == Qt::TextAlignmentRole) return alignment(section);
        return {};
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override {
        if (!index.isValid()) return Qt::NoItemFlags;
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    }

    std::string_view cell(int row, int col) const { return m_rows.cell(row, col); }

    void insertColumn(int col, Column column) {
        show();
        Reshaping reshaping(this);
        beginInsertColumns({}, col, col);
        m_columns.insert(m_columns.begin() + col, std::move(column));
        m_rows.insertColumn(col);
        endInsertColumns();
    }

    void removeColumn(int col) {
        show();
        Reshaping reshaping(this);
        beginRemoveColumns({}, col, col);
        m_columns.erase(m_columns.begin() + col);
        m_rows.removeColumn(col);
        endRemoveColumns();
    }

    void insertRow(int row, const char* text) {
        if (row < size()) {
            show();
            beginInsertRows({}, row, row);
            m_rows.insertRow(row, text);
            ++m_shown;
            endInsertRows();
            return;
        }
        m_rows.insertRow(row, text);
        if (m_posted) return;
        m_posted = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_posted = false;
                show();
            },
            Qt::QueuedConnection);
    }

    void removeRow(int row) {
        show();
        Reshaping reshaping(this);
        beginRemoveRows({}, row, row);
        m_rows.eraseRow(row);
        --m_shown;
        endRemoveRows();
    }

    void clear() {
        Reshaping reshaping(this);
        beginResetModel();
        m_rows.clear();
        m_shown = 0;
        endResetModel();
    }

    void setCell(int row, int col, const char* text) {
        m_rows.setCell(row, col, text);
        if (row >= m_shown) return;
        static const QList<int> s_display{Qt::DisplayRole};
        const QModelIndex changed = index(row, col);
        emit dataChanged(changed, changed, s_display);
    }

    // Tells the views about the rows appended since they last heard.
    void show() {
        if (m_shown == size()) return;
        beginInsertRows({}, m_shown, size() - 1);
        m_shown = size();
        endInsertRows();
    }

    // True while a change of the program's drops or moves cells: the
    // selection changes it brings are none the parent hears about.
    bool reshaping() const { return m_reshaping; }

private:
    struct Reshaping {
        explicit Reshaping(ListModel* model) : m_model(model), m_was(model->m_reshaping) {
            model->m_reshaping = true;
        }
        ~Reshaping() { m_model->m_reshaping = m_was; }
        ListModel* m_model;
        bool m_was;
    };

    QVariant alignment(int col) const {
        switch (m_columns[std::size_t(col)].format & kLvcfmtJustifyMask) {
            case kLvcfmtRight:
                return int(Qt::AlignRight | Qt::AlignVCenter);
            case kLvcfmtCenter:
                return int(Qt::AlignHCenter | Qt::AlignVCenter);
            default:
                return int(Qt::AlignLeft | Qt::AlignVCenter);
        }
    }

    std::vector<Column> m_columns;
    RowStore m_rows;
    int m_shown = 0;        // rows the views know about
    bool m_posted = false;  // a show() waits in the event queue
    bool m_reshaping = false;
};

// The highlight of sub-items as the extended style asks. The focus frame
// goes round the whole row (the view draws it), not round one cell.
class CellDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void setExtendedStyle(DWORD style) { m_style = style; }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem opt(option);
        opt.state &= ~QStyle::State_HasFocus;
        // Without full-row select only the first column shows the selection.
        if (!(m_style & LVS_EX_FULLROWSELECT) && index.column() > 0)
            opt.state &= ~QStyle::State_Selected;
        QStyledItemDelegate::paint(painter, opt, index);
    }

private:
    DWORD m_style = 0;
};

WPARAM mouseKeyFlags(Qt::MouseButtons buttons, Qt::KeyboardModifiers mods) {
    WPARAM flags = 0;
    if (buttons & Qt::LeftButton) flags |= kMkLButton;
    if (buttons & Qt::RightButton) flags |= kMkRButton;
    if (mods & Qt::ShiftModifier) flags |= kMkShift;
    if (mods & Qt::ControlModifier) flags |= kMkControl;
    return flags;
}

LPARAM pointParam(QPoint p) {
    return MAKELPARAM(unsigned(p.x()), unsigned(p.y()));
}

}  // namespace

// Qt measures header sections in bold, for headers that draw a selected
// section so; this one never does, and the bold face of a CJK font is a
// second large font file to read before the list first shows.
class ListHeader final : public QHeaderView {
public:
    explicit ListHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {}

protected:
    QSize sectionSizeFromContents(int section) const override {
        ensurePolished();
        QStyleOptionHeader opt;
        initStyleOption(&opt);
        opt.section = section;
        opt.fontMetrics = fontMetrics();
        opt.text = model()->headerData(section, orientation(), Qt::DisplayRole).toString();
        return style()->sizeFromContents(QStyle::CT_HeaderSection, &opt, QSize(), this);
    }
};

// The list's widget: a table whose rows are the items and whose columns the
// sub-items, kept to a report list's conduct: Tab leaves the list, Home and
// End go to the first and last row, Left and Right scroll, the focus frame
// goes round the current row. Mouse presses, double clicks, the wheel and
// scroll-bar use are offered to the list's window first; Qt's own handling
// is the fallback that Default() runs.
class ListView final : public QTableView {
public:
    ListView(HWND self, DWORD style, QWidget* parent) : QTableView(parent), m_self(self) {
        // Made here, not in the initialiser list: adopting them sends events
        // to this view, whose event() reads m_model.
        setHorizontalHeader(new ListHeader(this));
        m_model = new ListModel(this);
        m_delegate = new CellDelegate(this);
        setModel(m_model);
        setItemDelegate(m_delegate);
        setEditTriggers(NoEditTriggers);
        setSelectionBehavior(SelectRows);
        setSelectionMode((style & LVS_SINGLESEL) ? SingleSelection : ExtendedSelection);
        setTabKeyNavigation(false);
        setWordWrap(false);
        setShowGrid(false);
        setCornerButtonEnabled(false);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        QHeaderView* columns = horizontalHeader();
        columns->setStretchLastSection(false);
        columns->setSectionsMovable(false);
        columns->setSectionsClickable(false);
        columns->setHighlightSections(false);
        columns->setMinimumSectionSize(0);
        columns->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        verticalHeader()->hide();
        verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        verticalHeader()->setMinimumSectionSize(0);
        fitRowHeight();
        setProperty("ui_child_host", QVariant::fromValue<QObject*>(viewport()));
        verticalScrollBar()->installEventFilter(this);
        horizontalScrollBar()->installEventFilter(this);
        connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
                [this](const QItemSelection& selected, const QItemSelection& deselected) {
                    onSelectionChanged(selected, deselected);
                });
    }

    ListModel& rows() { return *m_model; }
    const ListModel& rows() const { return *m_model; }

    DWORD extendedStyle() const { return m_exStyle; }
    void setExtendedStyle(DWORD style) {
        m_exStyle = style;
        m_delegate->setExtendedStyle(style);
        setShowGrid(style & LVS_EX_GRIDLINES);
        viewport()->update();
    }

    // Selects or deselects rows and notifies the parent; row -1 means every
    // row, reported as one notification for item -1.
    void setRowsSelected(int row, bool select) {
        const int count = m_model->rowCount();
        const int lastCol = std::max(0, m_model->columnCount() - 1);
        if (count == 0 || m_model->columnCount() == 0) return;
        if (row < 0) {
            // A single-selection list never holds more than one selected row.
            if (select && selectionMode() == SingleSelection) return;
            const bool changed = select ? selectedCount() != count : selectedCount() != 0;
            m_quiet = true;
            const QItemSelection all(m_model->index(0, 0), m_model->index(count - 1, lastCol));
            selectionModel()->select(
                all, select ? QItemSelectionModel::Select : QItemSelectionModel::Deselect);
            m_quiet = false;
            if (changed)
                notifyItemChanged(-1, select ? LVIS_SELECTED : 0, select ? 0 : LVIS_SELECTED);
            return;
        }
        QItemSelectionModel::SelectionFlags cmd =
            select ? QItemSelectionModel::Select : QItemSelectionModel::Deselect;
        if (select && selectionMode() == SingleSelection) cmd = QItemSelectionModel::ClearAndSelect;
        selectionModel()->select(m_model->index(row, 0), cmd | QItemSelectionModel::Rows);
    }

    bool isRowSelected(int row) const { return selectionModel()->isRowSelected(row, {}); }

    int selectedCount() const {
        int n = 0;
        for (const QItemSelectionRange& r : selectionModel()->selection()) n += r.height();
        return n;
    }

    // The first selected row after `after`, -1 when there is none.
    int nextSelected(int after) const {
        int best = -1;
        for (const QItemSelectionRange& r : selectionModel()->selection()) {
            const int from = std::max(after + 1, r.top());
            if (from <= r.bottom() && (best < 0 || from < best)) best = from;
        }
        return best;
    }

    int currentRow() const { return currentIndex().isValid() ? currentIndex().row() : -1; }

    // The scroll bars learn of new rows with the next layout, which a scroll
    // to one of them must not wait for.
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override {
        executeDelayedItemsLayout();
        QTableView::scrollTo(index, hint);
    }

    // Cell rectangle in client (viewport) coordinates, grid line included;
    // for column -1 the row.
    QRect cellRect(int row, int col) const {
        const int top = rowViewportPosition(row);
        if (col < 0)
            return QRect(-horizontalOffset(), top, horizontalHeader()->length(), rowHeight(row));
        return QRect(columnViewportPosition(col), top, columnWidth(col), rowHeight(row));
    }

    // Row and column at a client point; both -1 off the cells.
    std::pair<int, int> hitTest(QPoint pt) const {
        if (!viewport()->rect().contains(pt)) return {-1, -1};
        const QModelIndex at = indexAt(pt);
        if (!at.isValid()) return {-1, -1};
        return {at.row(), at.column()};
    }

protected:
    // Whatever the view is about to do, it sees every row the program gave.
    bool event(QEvent* e) override {
        if (m_model) m_model->show();
        return QTableView::event(e);
    }
    bool viewportEvent(QEvent* e) override {
        if (m_model) m_model->show();
        return QTableView::viewportEvent(e);
    }

    void mousePressEvent(QMouseEvent* e) override {
        if (m_inDefault || (e->button() != Qt::LeftButton && e->button() != Qt::RightButton))
            return QTableView::mousePressEvent(e);
        const bool left = e->button() == Qt::LeftButton;
        offer(left ? WM_LBUTTONDOWN : WM_RBUTTONDOWN, e, [this, e, left] {
            if (left) {
                QTableView::mousePressEvent(e);
                // Off the rows the selection goes at the press, before
                // NM_CLICK (Qt would wait for the release).
                const bool extend = e->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier);
                if (!indexAt(e->position().toPoint()).isValid() && !extend)
                    selectionModel()->clearSelection();
                notifyClick(NM_CLICK, e->position().toPoint());
            } else {
                selectForContextClick(e->position().toPoint());
                notifyClick(NM_RCLICK, e->position().toPoint());
            }
        });
    }

    // Shift+F10 and the Menu key ask for the selected row's context menu:
    // the same notification as a right click on that row. Left and Right
    // scroll the columns; there is no current column to move.
    void keyPressEvent(QKeyEvent* e) override {
        const bool menuKey = (e->key() == Qt::Key_Menu && e->modifiers() == Qt::NoModifier) ||
                             (e->key() == Qt::Key_F10 && e->modifiers() == Qt::ShiftModifier);
        if (menuKey) {
            e->accept();
            notifyContextKey();
        } else if (e->key() == Qt::Key_Left || e->key() == Qt::Key_Right) {
            e->accept();
            horizontalScrollBar()->triggerAction(e->key() == Qt::Key_Left
                                                     ? QAbstractSlider::SliderSingleStepSub
                                                     : QAbstractSlider::SliderSingleStepAdd);
        } else {
            QTableView::keyPressEvent(e);
        }
    }

    // Home and End go to the first and the last row (a table's go to the
    // first and last column).
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override {
        if ((action != MoveHome && action != MoveEnd) || m_model->rowCount() == 0)
            return QTableView::moveCursor(action, modifiers);
        const int col = currentIndex().isValid() ? currentIndex().column() : 0;
        return m_model->index(action == MoveHome ? 0 : m_model->rowCount() - 1, col);
    }

    void paintEvent(QPaintEvent* e) override {
        QTableView::paintEvent(e);
        const int row = currentRow();
        if (!hasFocus() || row < 0) return;
        QPainter painter(viewport());
        QStyleOptionFocusRect frame;
        frame.initFrom(this);
        frame.state |= QStyle::State_KeyboardFocusChange;
        frame.rect = cellRect(row, -1);
        frame.backgroundColor =
            palette().color(isRowSelected(row) ? QPalette::Highlight : QPalette::Base);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &frame, &painter, this);
    }

    void changeEvent(QEvent* e) override {
        QTableView::changeEvent(e);
        if (e->type() == QEvent::FontChange || e->type() == QEvent::StyleChange) fitRowHeight();
    }
    // Where a platform makes a keyboard context-menu event of its own.
    void contextMenuEvent(QContextMenuEvent* e) override {
        if (e->reason() != QContextMenuEvent::Keyboard) return QTableView::contextMenuEvent(e);
        e->accept();
        notifyContextKey();
    }

    void mouseDoubleClickEvent(QMouseEvent* e) override {
        if (m_inDefault) return QTableView::mouseDoubleClickEvent(e);
        if (e->button() == Qt::RightButton) return mousePressEvent(e);
        if (e->button() != Qt::LeftButton) return QTableView::mouseDoubleClickEvent(e);
        offer(WM_LBUTTONDBLCLK, e, [this, e] {
            QTableView::mouseDoubleClickEvent(e);
            notifyClick(NM_DBLCLK, e->position().toPoint());
        });
    }

    void wheelEvent(QWheelEvent* e) override {
        if (m_inDefault) return QTableView::wheelEvent(e);
        offerWheel(e, [this, e] { QTableView::wheelEvent(e); });
    }

    // Scroll-bar presses become WM_VSCROLL/WM_HSCROLL, the wheel over a bar
    // WM_MOUSEWHEEL; the bar acts only when the default handling runs.
    bool eventFilter(QObject* obj, QEvent* e) override {
        if (m_model) m_model->show();
        auto* bar = qobject_cast<QScrollBar*>(obj);
        if (!bar || m_inDefault) return QTableView::eventFilter(obj, e);
        bool deliver = true;
        if (e->type() == QEvent::MouseButtonPress || e->type() == QEvent::MouseButtonDblClick) {
            auto* me = static_cast<QMouseEvent*>(e);
            if (me->button() != Qt::LeftButton) return false;
            const UINT code = scrollCode(bar, me->position().toPoint());
            const UINT message = bar->orientation() == Qt::Vertical ? WM_VSCROLL : WM_HSCROLL;
            deliver = false;
            runOffered(message, MAKEWPARAM(code, unsigned(bar->value())), 0,
                       [&deliver] { deliver = true; });
        } else if (e->type() == QEvent::Wheel) {
            deliver = false;
            offerWheel(static_cast<QWheelEvent*>(e), [&deliver] { deliver = true; });
        }
        return !deliver;
    }

private:
    // Rows as tall as one line of text in an item view, as a tree view makes
    // them (a table's are the taller ones of its row header).
    void fitRowHeight() {
        QStyleOptionViewItem item;
        initViewItemOption(&item);
        item.features = QStyleOptionViewItem::HasDisplay;
        item.text = QStringLiteral("X");
        verticalHeader()->setDefaultSectionSize(
            style()->sizeFromContents(QStyle::CT_ItemViewItem, &item, QSize(), this).height());
    }

    // Dispatches a mouse message to the list's window; `fallback` is the
    // default handling. Without a window the default runs directly.
    template <typename F>
    void offer(UINT message, QMouseEvent* e, F fallback) {
        const WPARAM flags = mouseKeyFlags(e->buttons() | e->button(), e->modifiers());
        runOffered(message, flags, pointParam(e->position().toPoint()), std::move(fallback));
    }

    template <typename F>
    void offerWheel(QWheelEvent* e, F fallback) {
        const WPARAM flags = MAKEWPARAM(unsigned(mouseKeyFlags(e->buttons(), e->modifiers())),
                                        unsigned(e->angleDelta().y()));
        runOffered(WM_MOUSEWHEEL, flags, pointParam(e->globalPosition().toPoint()),
                   std::move(fallback));
        e->accept();
    }

    template <typename F>
    void runOffered(UINT message, WPARAM wParam, LPARAM lParam, F fallback) {
        QPointer<ListView> alive(this);
        auto runDefault = [alive, fallback]() -> LRESULT {
            if (!alive) return 0;
            const bool was = alive->m_inDefault;
            alive->m_inDefault = true;
            fallback();
            if (alive) alive->m_inDefault = was;
            return 0;
        };
        CWnd* wnd = wndOf(m_self);
        if (!wnd) {
            runDefault();
            return;
        }
        dispatch(wnd, message, wParam, lParam, runDefault);
    }

    static UINT scrollCode(QScrollBar* bar, QPoint pos) {
        QStyleOptionSlider opt;
        opt.initFrom(bar);
        opt.subControls = QStyle::SC_All;
        opt.orientation = bar->orientation();
        if (bar->orientation() == Qt::Horizontal) opt.state |= QStyle::State_Horizontal;
        opt.minimum = bar->minimum();
        opt.maximum = bar->maximum();
        opt.sliderPosition = bar->sliderPosition();
        opt.sliderValue = bar->value();
        opt.singleStep = bar->singleStep();
        opt.pageStep = bar->pageStep();
        switch (bar->style()->hitTestComplexControl(QStyle::CC_ScrollBar, &opt, pos, bar)) {
            case QStyle::SC_ScrollBarSubLine:
                return kSbLineUp;
            case QStyle::SC_ScrollBarAddLine:
                return kSbLineDown;
            case QStyle::SC_ScrollBarSubPage:
                return kSbPageUp;
            case QStyle::SC_ScrollBarAddPage:
                return kSbPageDown;
            default:
                return kSbThumbTrack;
        }
    }

    // A right click on an unselected row selects just that row; on a
    // selected row the selection stays; off the rows it is cleared.
    void selectForContextClick(QPoint pt) {
        const QModelIndex at = indexAt(pt);
        if (!at.isValid()) {
            selectionModel()->clearSelection();
            return;
        }
        if (!isRowSelected(at.row()))
            selectionModel()->select(
                at, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        selectionModel()->setCurrentIndex(at, QItemSelectionModel::NoUpdate);
    }

    // The row asked about is the current one when it is selected, else the
    // first selected; the point is on that row, scrolled into view, or the
    // list's top left corner when no row is selected.
    void notifyContextKey() {
        CWnd* wnd = wndOf(m_self);
        if (!wnd) return;
        const int row = currentIndex().isValid() && isRowSelected(currentIndex().row())
                            ? currentIndex().row()
                            : nextSelected(-1);
        QPoint pt(0, 0);
        if (row >= 0) {
            scrollTo(m_model->index(row, 0));
            const QRect cell = cellRect(row, 0);
            pt = QPoint(std::max(0, cell.left()) + cell.height() / 2, cell.bottom());
        }
        NMITEMACTIVATE nm{};
        nm.iItem = row;
        nm.iSubItem = row >= 0 ? 0 : -1;
        nm.ptAction = POINT{pt.x(), pt.y()};
        notifyParent(wnd, &nm.hdr, NM_RCLICK);
    }

    void notifyClick(UINT code, QPoint pt) {
        CWnd* wnd = wndOf(m_self);
        if (!wnd) return;
        const auto [row, col] = hitTest(pt);
        NMITEMACTIVATE nm{};
        nm.iItem = row;
        nm.iSubItem = col;
        nm.ptAction = POINT{pt.x(), pt.y()};
        notifyParent(wnd, &nm.hdr, code);
    }

    void notifyItemChanged(int row, UINT newState, UINT oldState) {
        CWnd* wnd = wndOf(m_self);
        if (!wnd) return;
        NMLISTVIEW nm{};
        nm.iItem = row;
        nm.iSubItem = 0;
        nm.uNewState = newState;
        nm.uOldState = oldState;
        nm.uChanged = LVIF_STATE;
        nm.ptAction = POINT{-1, -1};
        notifyParent(wnd, &nm.hdr, LVN_ITEMCHANGED);
    }

    // One LVN_ITEMCHANGED per row whose selection changed, deselections
    // first, rows in ascending order.
    void onSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
        if (m_quiet || m_model->reshaping()) return;
        std::vector<int> off = rowsOf(deselected);
        std::vector<int> on = rowsOf(selected);
        QPointer<ListView> alive(this);
        for (int row : off) {
            if (!alive) return;
            if (!isRowSelected(row)) notifyItemChanged(row, 0, LVIS_SELECTED);
        }
        for (int row : on) {
            if (!alive) return;
            notifyItemChanged(row, LVIS_SELECTED, 0);
        }
    }

    static std::vector<int> rowsOf(const QItemSelection& sel) {
        std::vector<int> rows;
        for (const QItemSelectionRange& r : sel)
            for (int row = r.top(); row <= r.bottom(); ++row) rows.push_back(row);
        std::sort(rows.begin(), rows.end());
        rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
        return rows;
    }

    HWND m_self;
    ListModel* m_model = nullptr;        // owned by this widget
    CellDelegate* m_delegate = nullptr;  // owned by this widget
    DWORD m_exStyle = 0;
    bool m_quiet = false;
    bool m_inDefault = false;
};

QWidget* createListWidget(HWND self, DWORD style, QWidget* parent) {
    return new ListView(self, style, parent);  // owned by its Qt parent
}

}  // namespace ui::detail

// ---- CListCtrl ---------------------------------------------------------------
namespace {

using ui::detail::ListModel;
using ui::detail::ListView;

ListView* widgetOf(const CListCtrl* list) {
    // Only a list's handle has a ListView, and the handle says which it is:
    // cheaper than a dynamic_cast on every call of a fill.
    const HWND h = list->m_hWnd;
    if (!h || h->kind != ui::ControlKind::ListView) return nullptr;
    return static_cast<ListView*>(h->widget.data());
}

// The rows as the program gave them, whether or not the view has heard of
// them yet: for the calls a fill makes per row, which must not tell the view
// of each row.
ListModel* rowsOf(const CListCtrl* list) {
    ListView* view = widgetOf(list);
    return view ? &view->rows() : nullptr;
}

// The view, up to date with every row: for anything that asks it about rows
// (selection, geometry) or changes more than the cells.
ListView* viewOf(const CListCtrl* list) {
    ListView* view = widgetOf(list);
    if (view) view->rows().show();
    return view;
}

// A list without a label reads by its columns to screen readers.
void nameByColumns(ListView* view) {
    if (view->property("ui_labelled").toBool()) return;
    QStringList headings;
    for (int col = 0; col < view->rows().columnCount(); ++col)
        headings << view->rows().headerData(col, Qt::Horizontal, Qt::DisplayRole).toString();
    view->setAccessibleName(headings.join(QLatin1Char(' ')));
}

bool validRow(const ListModel* rows, int row) {
    return rows && row >= 0 && row < rows->size();
}
bool validRow(const ListView* view, int row) {
    return view && validRow(&view->rows(), row);
}

bool validColumn(const ListView* view, int col) {
    return view && col >= 0 && col < view->rows().columnCount();
}

// Sub-items may be set on rows of a list without columns only as item text.
bool validSubItem(const ListModel* rows, int col) {
    return col >= 0 && col < std::max(1, rows->columnCount());
}

void toRect(const QRect& r, RECT* out) {
    out->left = r.left();
    out->top = r.top();
    out->right = r.left() + r.width();
    out->bottom = r.top() + r.height();
}

}  // namespace

BOOL CListCtrl::Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID) {
    return CWnd::Create("SysListView32", nullptr, dwStyle, rect, pParentWnd, nID);
}

int CListCtrl::InsertColumn(int nCol, LPCTSTR lpszColumnHeading, int nFormat, int nWidth, int) {
    ListView* view = viewOf(this);
    if (!view || nCol < 0) return -1;
    nCol = std::min(nCol, view->rows().columnCount());
    std::string heading = lpszColumnHeading ? ui::detail::translate(lpszColumnHeading) : "";
    if (nWidth < 0) {
        // No width given: wide enough for the heading.
        const QString text = ui::detail::decodeCp936(heading);
        nWidth = view->horizontalHeader()->fontMetrics().horizontalAdvance(text) + 12;
    }
    view->rows().insertColumn(nCol, {std::move(heading), nFormat});
    view->horizontalHeader()->resizeSection(nCol, nWidth);
    nameByColumns(view);
    return nCol;
}

BOOL CListCtrl::DeleteColumn(int nCol) {
    ListView* view = viewOf(this);
    if (!validColumn(view, nCol)) return FALSE;
    view->rows().removeColumn(nCol);
    nameByColumns(view);
    return TRUE;
}

int CListCtrl::GetColumnWidth(int nCol) const {
    const ListView* view = viewOf(this);
    return validColumn(view, nCol) ? view->columnWidth(nCol) : 0;
}

BOOL CListCtrl::SetColumnWidth(int nCol, int cx) {
    ListView* view = viewOf(this);
    if (!validColumn(view, nCol)) return FALSE;
    view->horizontalHeader()->resizeSection(nCol, std::max(0, cx));
    return TRUE;
}

int CListCtrl::GetColumnCount() const {
    const ListModel* rows = rowsOf(this);
    return rows ? rows->columnCount() : 0;
}

DWORD CListCtrl::SetExtendedStyle(DWORD dwNewStyle) {
    ListView* view = viewOf(this);
    if (!view) return 0;
    const DWORD old = view->extendedStyle();
    view->setExtendedStyle(dwNewStyle);
    return old;
}

DWORD CListCtrl::GetExtendedStyle() const {
    const ListView* view = viewOf(this);
    return view ? view->extendedStyle() : 0;
}

int CListCtrl::InsertItem(int nItem, LPCTSTR lpszItem) {
    ListModel* rows = rowsOf(this);
    if (!rows || nItem < 0) return -1;
    nItem = std::min(nItem, rows->size());
    rows->insertRow(nItem, lpszItem ? lpszItem : "");
    return nItem;
}

BOOL CListCtrl::SetItemText(int nItem, int nSubItem, LPCTSTR lpszText) {
    ListModel* rows = rowsOf(this);
    if (!validRow(rows, nItem) || !validSubItem(rows, nSubItem)) return FALSE;
    rows->setCell(nItem, nSubItem, lpszText ? lpszText : "");
    return TRUE;
}

CString CListCtrl::GetItemText(int nItem, int nSubItem) const {
    const ListModel* rows = rowsOf(this);
    if (!validRow(rows, nItem) || !validSubItem(rows, nSubItem)) return CString();
    return CString(std::string(rows->cell(nItem, nSubItem)));
}

int CListCtrl::GetItemText(int nItem, int nSubItem, LPTSTR lpszText, int nLen) const {
    if (!lpszText || nLen <= 0) return 0;
    lpszText[0] = '\0';
    const ListModel* rows = rowsOf(this);
    if (!validRow(rows, nItem) || !validSubItem(rows, nSubItem)) return 0;
    const std::string_view text = rows->cell(nItem, nSubItem);
    const std::size_t n = ui::detail::prefixAtBoundary(text, std::size_t(nLen - 1));
    std::memcpy(lpszText, text.data(), n);
    lpszText[n] = '\0';
    return int(n);
}

BOOL CListCtrl::DeleteItem(int nItem) {
    ListModel* rows = rowsOf(this);
    if (!validRow(rows, nItem)) return FALSE;
    rows->removeRow(nItem);
    return TRUE;
}

BOOL CListCtrl::DeleteAllItems() {
    ListModel* rows = rowsOf(this);
    if (!rows) return FALSE;
    rows->clear();
    return TRUE;
}

int CListCtrl::GetItemCount() const {
    const ListModel* rows = rowsOf(this);
    return rows ? rows->size() : 0;
}

// A position is the selected row + 1, so that null ends the iteration.
CListCtrl::POSITION CListCtrl::GetFirstSelectedItemPosition() const {
    const ListView* view = viewOf(this);
    const int row = view ? view->nextSelected(-1) : -1;
    return row < 0 ? nullptr : reinterpret_cast<POSITION>(std::intptr_t(row) + 1);
}

int CListCtrl::GetNextSelectedItem(POSITION& pos) const {
    const ListView* view = viewOf(this);
    if (!view || !pos) {
        pos = nullptr;
        return -1;
    }
    const int row = int(reinterpret_cast<std::intptr_t>(pos) - 1);
    const int next = view->nextSelected(row);
    pos = next < 0 ? nullptr : reinterpret_cast<POSITION>(std::intptr_t(next) + 1);
    return row;
}

UINT CListCtrl::GetSelectedCount() const {
    const ListView* view = viewOf(this);
    return view ? UINT(view->selectedCount()) : 0;
}

int CListCtrl::GetNextItem(int nItem, int nFlags) const {
    const ListView* view = viewOf(this);
    if (!view || nItem < -1) return -1;
    const int count = view->rows().size();
    if (UINT(nFlags) & LVNI_SELECTED) return view->nextSelected(nItem);
    if (UINT(nFlags) & ui::detail::kLvniFocused) {
        const int current = view->currentRow();
        return current > nItem ? current : -1;
    }
    return nItem + 1 < count ? nItem + 1 : -1;
}

BOOL CListCtrl::SetItemState(int nItem, UINT nState, UINT nMask) {
    ListView* view = viewOf(this);
    if (!view || (nItem != -1 && !validRow(view, nItem))) return FALSE;
    if (nMask & LVIS_SELECTED) view->setRowsSelected(nItem, (nState & LVIS_SELECTED) != 0);
    if ((nMask & LVIS_FOCUSED) && nItem >= 0) {
        auto* sel = view->selectionModel();
        if (nState & LVIS_FOCUSED)
            sel->setCurrentIndex(view->rows().index(nItem, 0), QItemSelectionModel::NoUpdate);
        else if (view->currentRow() == nItem)
            sel->setCurrentIndex({}, QItemSelectionModel::NoUpdate);
    }
    return TRUE;
}

UINT CListCtrl::GetItemState(int nItem, UINT nMask) const {
    const ListView* view = viewOf(this);
    if (!validRow(view, nItem)) return 0;
    UINT state = 0;
    if (view->isRowSelected(nItem)) state |= LVIS_SELECTED;
    if (view->currentRow() == nItem) state |= LVIS_FOCUSED;
    return state & nMask;
}

BOOL CListCtrl::EnsureVisible(int nItem, BOOL) {
    ListView* view = viewOf(this);
    if (!validRow(view, nItem)) return FALSE;
    view->scrollTo(view->rows().index(nItem, 0), QAbstractItemView::EnsureVisible);
    return TRUE;
}

BOOL CListCtrl::GetSubItemRect(int iItem, int iSubItem, int nArea, CRect& ref) const {
    const ListView* view = viewOf(this);
    if (!validRow(view, iItem) || !validColumn(view, iSubItem)) return FALSE;
    // Sub-item 0's bounds are the whole row; its label is the column alone.
    const bool wholeRow = iSubItem == 0 && nArea == LVIR_BOUNDS;
    toRect(view->cellRect(iItem, wholeRow ? -1 : iSubItem), &ref);
    return TRUE;
}

BOOL CListCtrl::GetItemRect(int nItem, RECT* lpRect, UINT nCode) const {
    const ListView* view = viewOf(this);
    if (!lpRect || !validRow(view, nItem) || view->rows().columnCount() == 0) return FALSE;
    toRect(view->cellRect(nItem, int(nCode) == LVIR_LABEL ? 0 : -1), lpRect);
    return TRUE;
}

int CListCtrl::SubItemHitTest(POINT pt, int* pSubItem) const {
    const ListView* view = viewOf(this);
    const auto [row, col] = view ? view->hitTest(QPoint(pt.x, pt.y)) : std::pair{-1, -1};
    if (pSubItem) *pSubItem = col;
    return row;
}

IMPLEMENT_DYNAMIC(CListCtrl, CWnd)
