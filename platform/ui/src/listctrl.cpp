// CListCtrl: a report-view list over QTreeView with a model of its own.
//
// Coordinates: the list's client area is its viewport (the part below the
// header, inside the frame). Mouse messages, ptAction, SubItemHitTest and
// GetSubItemRect all use it, and child windows of the list live in the
// viewport (property "ui_child_host"), so MoveWindow onto a cell rectangle
// covers the cell exactly.
#include <sys/mman.h>
#include <unistd.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <QWheelEvent>
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

#include "cp936.h"
#include "dispatch.h"
#include "handle.h"
#include "language.h"
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

// A growable array of trivially copyable items in one malloc'd block. It
// grows by realloc, which moves a block in a mapping of its own by remapping
// its pages rather than copying them and touching fresh ones: page faults are
// most of what filling a list of 100,000 rows costs at start-up. (Programs
// with the heap on huge pages, heap.h, keep such blocks in the heap.) A
// large growth has its new pages mapped in one call, which costs about half
// as much as taking a fault on each of them; the rows being added fill them
// soon after.
template <class T>
class PodBuffer {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    PodBuffer() = default;
    PodBuffer(const PodBuffer&) = delete;
    PodBuffer& operator=(const PodBuffer&) = delete;
    ~PodBuffer() { std::free(m_data); }

    std::size_t size() const { return m_size; }
    T* data() { return m_data; }
    const T* data() const { return m_data; }
    T& operator[](std::size_t i) { return m_data[i]; }
    const T& operator[](std::size_t i) const { return m_data[i]; }
    T* begin() { return m_data; }
    T* end() { return m_data + m_size; }

    // New items are left as they are: the caller writes them.
    void resize(std::size_t n) {
        reserve(n);
        m_size = n;
    }
    void reserve(std::size_t n) {
        if (n <= m_capacity) return;
        const std::size_t capacity = std::max({n, m_capacity * 2, std::size_t(64)});
        void* grown = std::realloc(m_data, capacity * sizeof(T));
        if (!grown) throw std::bad_alloc();
        m_data = static_cast<T*>(grown);
        prefault(m_capacity * sizeof(T), capacity * sizeof(T));
        m_capacity = capacity;
    }
    void clear() { m_size = 0; }
    void insert(std::size_t at, const T& item) {
        resize(m_size + 1);
        std::memmove(m_data + at + 1, m_data + at, (m_size - 1 - at) * sizeof(T));
        m_data[at] = item;
    }
    void erase(std::size_t at) {
        std::memmove(m_data + at, m_data + at + 1, (m_size - 1 - at) * sizeof(T));
        --m_size;
    }
    void swap(PodBuffer& other) noexcept {
        std::swap(m_data, other.m_data);
        std::swap(m_size, other.m_size);
        std::swap(m_capacity, other.m_capacity);
    }

private:
    // Maps the whole pages within bytes [from, to) of the block, when there
    // are enough of them to matter. A kernel without the call (before 5.14)
    // refuses it, and the pages are faulted in as they are touched.
    void prefault(std::size_t from, std::size_t to) {
#ifdef MADV_POPULATE_WRITE
        constexpr std::size_t kWorthIt = 256 * 1024;
        if (to - from < kWorthIt) return;
        static const auto kPage = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
        const auto base = reinterpret_cast<std::uintptr_t>(m_data);
        const std::uintptr_t first = (base + from + kPage - 1) & ~(kPage - 1);
        const std::uintptr_t last = (base + to) & ~(kPage - 1);
        if (last > first)
            madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
#else
        (void)from;
        (void)to;
#endif
    }

    T* m_data = nullptr;
    std::size_t m_size = 0;
    std::size_t m_capacity = 0;
};

// Every row of a list in one buffer. A row is its cells separated by NUL
// (which no C string holds), placed anywhere in the buffer: filling a list
// allocates nothing per row or cell, and emptying it frees one buffer.
class RowStore {
public:
    int size() const { return int(m_rows.size()); }

    std::string_view row(int r) const {
        const Row& row = m_rows[std::size_t(r)];
        return {m_pool.data() + row.at, row.size};
    }

    void insert(int r, std::string_view text) {
        m_rows.insert(std::size_t(r), Row{m_pool.size(), 0, 0});
        append(r, 0, text);
        m_lastRow = r;
        m_lastRowCells = 1;
    }

    // How many cells row r holds, when that is known without a scan: for the
    // row inserted last while only cells were added to it. Else 0.
    std::size_t knownCells(int r) const { return r == m_lastRow ? m_lastRowCells : 0; }

    void erase(int r) {
        m_lastRow = -1;
        m_garbage += m_rows[std::size_t(r)].room;
        m_rows.erase(std::size_t(r));
        compactIfWasteful();
    }

    void clear() {
        m_lastRow = -1;
        m_pool.clear();
        m_rows.clear();
        m_garbage = 0;
    }

    // Adds `separators` NULs and then `text` at the end of row r.
    void append(int r, std::size_t separators, std::string_view text) {
        if (r == m_lastRow) m_lastRowCells += separators;
        Row& row = m_rows[std::size_t(r)];
        const std::size_t added = separators + text.size();
        if (row.at + row.room == m_pool.size() && row.size == row.room) {
            // The last row in the buffer, as while a list is filled row by
            // row, cell after cell: it grows where it is.
            const std::size_t end = m_pool.size();
            m_pool.resize(end + added);
            std::memset(m_pool.data() + end, 0, separators);
            if (!text.empty())
                std::memcpy(m_pool.data() + end + separators, text.data(), text.size());
            row.size = row.room = std::uint32_t(row.size + added);
            return;
        }
        const std::size_t end = row.size;
        char* p = reserve(row, end + added);
        std::memset(p + end, 0, separators);
        if (!text.empty()) std::memcpy(p + end + separators, text.data(), text.size());
        row.size = std::uint32_t(end + added);
        compactIfWasteful();
    }

    // Replaces bytes [from, to) of row r by `with`, which must not point
    // into this store.
    void splice(int r, std::size_t from, std::size_t to, std::string_view with) {
        Row& row = m_rows[std::size_t(r)];
        if (r == m_lastRow) {  // separators may come or go
            const char* at = m_pool.data() + row.at;
            m_lastRowCells = m_lastRowCells +
                             std::size_t(std::count(with.begin(), with.end(), '\0')) -
                             std::size_t(std::count(at + from, at + to, '\0'));
        }
        const std::size_t tail = row.size - to;
        const std::size_t need = from + with.size() + tail;
        char* p = reserve(row, need);
        std::memmove(p + from + with.size(), p + to, tail);
        if (!with.empty()) std::memcpy(p + from, with.data(), with.size());
        row.size = std::uint32_t(need);
        compactIfWasteful();
    }

private:
    struct Row {
        std::size_t at;
        std::uint32_t size;
        std::uint32_t room;
    };

    char* reserve(Row& row, std::size_t need) {
        if (need > row.room) {
            // The last row in the buffer grows where it is; any other moves
            // to the end.
            if (row.at + row.room != m_pool.size()) {
                const std::size_t at = m_pool.size();
                m_pool.resize(at + row.size);
                std::memcpy(m_pool.data() + at, m_pool.data() + row.at, row.size);
                m_garbage += row.room;
                row.at = at;
            }
            m_pool.resize(row.at + need);
            row.room = std::uint32_t(need);
        }
        return m_pool.data() + row.at;
    }

    // Moved and deleted rows leave their old bytes behind; once they are
    // most of the buffer, the rows are packed anew.
    void compactIfWasteful() {
        if (m_garbage < 4096 || m_garbage < m_pool.size() / 2) return;
        PodBuffer<char> pool;
        pool.reserve(m_pool.size() - m_garbage);
        for (Row& row : m_rows) {
            const std::size_t at = pool.size();
            pool.resize(at + row.size);
            std::memcpy(pool.data() + at, m_pool.data() + row.at, row.size);
            row.at = at;
            row.room = row.size;
        }
        m_pool.swap(pool);
        m_garbage = 0;
    }

    PodBuffer<char> m_pool;
    PodBuffer<Row> m_rows;
    std::size_t m_garbage = 0;  // bytes of the buffer no row uses
    int m_lastRow = -1;
    std::size_t m_lastRowCells = 0;
};

// Rows hold CP936 bytes as the program gave them; Qt sees Unicode only in
// data().
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

    // Cells beyond a row's stored ones read as empty, so rows stay short
    // until their sub-items are set.
    std::string_view cell(int row, int col) const {
        const std::string_view cells = m_rows.row(row);
        const auto [at, end, n] = span(cells, col);
        return at == std::string_view::npos ? std::string_view() : cells.substr(at, end - at);
    }

    void insertColumn(int col, Column column) {
        show();
        beginInsertColumns({}, col, col);
        m_columns.insert(m_columns.begin() + col, std::move(column));
        for (int r = 0; r < m_rows.size(); ++r) {
            const auto at = span(m_rows.row(r), col).at;
            if (at != std::string_view::npos) m_rows.splice(r, at, at, std::string_view("", 1));
        }
        endInsertColumns();
    }

    void removeColumn(int col) {
        show();
        beginRemoveColumns({}, col, col);
        m_columns.erase(m_columns.begin() + col);
        for (int r = 0; r < m_rows.size(); ++r) {
            const std::size_t size = m_rows.row(r).size();
            const auto [at, end, n] = span(m_rows.row(r), col);
            if (at == std::string_view::npos) continue;
            // The cell and one separator: the one after it, or for the last
            // cell the one before.
            if (end < size)
                m_rows.splice(r, at, end + 1, {});
            else
                m_rows.splice(r, at > 0 ? at - 1 : 0, end, {});
        }
        endRemoveColumns();
    }

    void insertRow(int row, const char* text) {
        if (row < size()) {
            show();
            beginInsertRows({}, row, row);
            m_rows.insert(row, text);
            ++m_shown;
            endInsertRows();
            return;
        }
        m_rows.insert(row, text);
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
        beginRemoveRows({}, row, row);
        m_rows.erase(row);
        --m_shown;
        endRemoveRows();
    }

    void clear() {
        beginResetModel();
        m_rows.clear();
        m_shown = 0;
        endResetModel();
    }

    void setCell(int row, int col, const char* text) {
        // A list filled row after row, cell after cell, adds each cell to the
        // end of the row inserted last: no need to look for its place.
        if (const std::size_t cells = m_rows.knownCells(row);
            cells != 0 && std::size_t(col) >= cells) {
            m_rows.append(row, std::size_t(col) + 1 - cells, text);
        } else if (const auto [at, end, present] = span(m_rows.row(row), col);
                   at != std::string_view::npos) {
            m_rows.splice(row, at, end, text);
        } else {
            // Missing cells up to col are empty.
            m_rows.append(row, std::size_t(col) + 1 - present, text);
        }
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

    const Column& column(int col) const { return m_columns[std::size_t(col)]; }

private:
    // Where cell col lies in a row: [at, end), or at = npos and the number
    // of cells the row holds when it holds fewer. A plain loop: rows are
    // short, and a call of memchr per cell cost more than the scan.
    struct Span {
        std::size_t at, end, cells;
    };
    static Span span(std::string_view cells, int col) {
        const char* p = cells.data();
        const std::size_t size = cells.size();
        std::size_t at = 0;
        for (int i = 0; i < col; ++i) {
            while (at < size && p[at] != '\0') ++at;
            if (at == size)
                return {std::string_view::npos, std::string_view::npos, std::size_t(i) + 1};
            ++at;
        }
        std::size_t end = at;
        while (end < size && p[end] != '\0') ++end;
        return {at, end, 0};
    }

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
};

// Grid lines and the highlight of sub-items, as the extended styles ask.
class CellDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void setExtendedStyle(DWORD style) { m_style = style; }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem opt(option);
        // Without full-row select only the first column shows the selection.
        if (!(m_style & LVS_EX_FULLROWSELECT) && index.column() > 0)
            opt.state &= ~QStyle::State_Selected;
        QStyledItemDelegate::paint(painter, opt, index);
        if (m_style & LVS_EX_GRIDLINES) {
            painter->save();
            painter->setPen(opt.palette.color(QPalette::Mid));
            const QRect r = opt.rect;
            painter->drawLine(r.topRight(), r.bottomRight());
            painter->drawLine(r.bottomLeft(), r.bottomRight());
            painter->restore();
        }
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

// The list's widget. Mouse presses, double clicks, the wheel and scroll-bar
// use are offered to the list's window first; Qt's own handling is the
// fallback that Default() runs.
class ListView final : public QTreeView {
public:
    ListView(HWND self, DWORD style, QWidget* parent) : QTreeView(parent), m_self(self) {
        // Made here, not in the initialiser list: adopting them sends events
        // to this view, whose event() reads m_model.
        setHeader(new ListHeader(this));
        m_model = new ListModel(this);
        m_delegate = new CellDelegate(this);
        setModel(m_model);
        setItemDelegate(m_delegate);
        setRootIsDecorated(false);
        setIndentation(0);
        setItemsExpandable(false);
        setUniformRowHeights(true);
        setAllColumnsShowFocus(true);
        setEditTriggers(NoEditTriggers);
        setSelectionBehavior(SelectRows);
        setSelectionMode((style & LVS_SINGLESEL) ? SingleSelection : ExtendedSelection);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        header()->setStretchLastSection(false);
        header()->setSectionsMovable(false);
        header()->setSectionsClickable(false);
        header()->setMinimumSectionSize(0);
        header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
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
        viewport()->update();
    }

    // Model changes that drop selected rows are not selection changes the
    // parent hears about.
    template <typename F>
    void quietly(F&& change) {
        const bool was = m_quiet;
        m_quiet = true;
        change();
        m_quiet = was;
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
            quietly([&] {
                const QItemSelection all(m_model->index(0, 0), m_model->index(count - 1, lastCol));
                selectionModel()->select(
                    all, select ? QItemSelectionModel::Select : QItemSelectionModel::Deselect);
            });
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

    // Cell rectangle in client (viewport) coordinates; for column -1 the row.
    QRect cellRect(int row, int col) const {
        if (col < 0) {
            const QRect first = visualRect(m_model->index(row, 0));
            return QRect(-horizontalOffset(), first.top(), header()->length(), first.height());
        }
        return visualRect(m_model->index(row, col));
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
        return QTreeView::event(e);
    }
    bool viewportEvent(QEvent* e) override {
        if (m_model) m_model->show();
        return QTreeView::viewportEvent(e);
    }

    void mousePressEvent(QMouseEvent* e) override {
        if (m_inDefault || (e->button() != Qt::LeftButton && e->button() != Qt::RightButton))
            return QTreeView::mousePressEvent(e);
        const bool left = e->button() == Qt::LeftButton;
        offer(left ? WM_LBUTTONDOWN : WM_RBUTTONDOWN, e, [this, e, left] {
            if (left) {
                QTreeView::mousePressEvent(e);
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
    // the same notification as a right click on that row.
    void keyPressEvent(QKeyEvent* e) override {
        const bool menuKey = (e->key() == Qt::Key_Menu && e->modifiers() == Qt::NoModifier) ||
                             (e->key() == Qt::Key_F10 && e->modifiers() == Qt::ShiftModifier);
        if (!menuKey) return QTreeView::keyPressEvent(e);
        e->accept();
        notifyContextKey();
    }
    // Where a platform makes a keyboard context-menu event of its own.
    void contextMenuEvent(QContextMenuEvent* e) override {
        if (e->reason() != QContextMenuEvent::Keyboard) return QTreeView::contextMenuEvent(e);
        e->accept();
        notifyContextKey();
    }

    void mouseDoubleClickEvent(QMouseEvent* e) override {
        if (m_inDefault) return QTreeView::mouseDoubleClickEvent(e);
        if (e->button() == Qt::RightButton) return mousePressEvent(e);
        if (e->button() != Qt::LeftButton) return QTreeView::mouseDoubleClickEvent(e);
        offer(WM_LBUTTONDBLCLK, e, [this, e] {
            QTreeView::mouseDoubleClickEvent(e);
            notifyClick(NM_DBLCLK, e->position().toPoint());
        });
    }

    void wheelEvent(QWheelEvent* e) override {
        if (m_inDefault) return QTreeView::wheelEvent(e);
        offerWheel(e, [this, e] { QTreeView::wheelEvent(e); });
    }

    // Scroll-bar presses become WM_VSCROLL/WM_HSCROLL, the wheel over a bar
    // WM_MOUSEWHEEL; the bar acts only when the default handling runs.
    bool eventFilter(QObject* obj, QEvent* e) override {
        if (m_model) m_model->show();
        auto* bar = qobject_cast<QScrollBar*>(obj);
        if (!bar || m_inDefault) return QTreeView::eventFilter(obj, e);
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
        if (m_quiet) return;
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

using ui::detail::ListView;

// The list's view as it is: rows appended since the last event may not be
// shown yet. For the calls a fill makes per row.
ListView* viewOf(const CListCtrl* list) {
    // Only a list's handle has a ListView, and the handle says which it is:
    // cheaper than a dynamic_cast on every call of a fill.
    const HWND h = list->m_hWnd;
    if (!h || h->kind != ui::ControlKind::ListView) return nullptr;
    return static_cast<ListView*>(h->widget.data());
}

// The view with every row shown, for anything that asks it about rows.
ListView* shownView(const CListCtrl* list) {
    ListView* view = viewOf(list);
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

bool validRow(const ListView* view, int row) {
    return view && row >= 0 && row < view->rows().size();
}

bool validColumn(const ListView* view, int col) {
    return view && col >= 0 && col < view->rows().columnCount();
}

// Sub-items may be set on rows of a list without columns only as item text.
bool validSubItem(const ListView* view, int col) {
    return view && col >= 0 && col < std::max(1, view->rows().columnCount());
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
    ListView* view = shownView(this);
    if (!view || nCol < 0) return -1;
    nCol = std::min(nCol, view->rows().columnCount());
    std::string heading = lpszColumnHeading ? ui::detail::translate(lpszColumnHeading) : "";
    if (nWidth < 0) {
        // No width given: wide enough for the heading.
        const QString text = ui::detail::decodeCp936(heading);
        nWidth = view->header()->fontMetrics().horizontalAdvance(text) + 12;
    }
    view->quietly([&] { view->rows().insertColumn(nCol, {std::move(heading), nFormat}); });
    view->header()->resizeSection(nCol, nWidth);
    nameByColumns(view);
    return nCol;
}

BOOL CListCtrl::DeleteColumn(int nCol) {
    ListView* view = shownView(this);
    if (!validColumn(view, nCol)) return FALSE;
    view->quietly([&] { view->rows().removeColumn(nCol); });
    nameByColumns(view);
    return TRUE;
}

int CListCtrl::GetColumnWidth(int nCol) const {
    const ListView* view = shownView(this);
    return validColumn(view, nCol) ? view->header()->sectionSize(nCol) : 0;
}

BOOL CListCtrl::SetColumnWidth(int nCol, int cx) {
    ListView* view = shownView(this);
    if (!validColumn(view, nCol)) return FALSE;
    view->header()->resizeSection(nCol, std::max(0, cx));
    return TRUE;
}

int CListCtrl::GetColumnCount() const {
    const ListView* view = shownView(this);
    return view ? view->rows().columnCount() : 0;
}

DWORD CListCtrl::SetExtendedStyle(DWORD dwNewStyle) {
    ListView* view = shownView(this);
    if (!view) return 0;
    const DWORD old = view->extendedStyle();
    view->setExtendedStyle(dwNewStyle);
    return old;
}

DWORD CListCtrl::GetExtendedStyle() const {
    const ListView* view = shownView(this);
    return view ? view->extendedStyle() : 0;
}

int CListCtrl::InsertItem(int nItem, LPCTSTR lpszItem) {
    ListView* view = viewOf(this);
    if (!view || nItem < 0) return -1;
    nItem = std::min(nItem, view->rows().size());
    view->rows().insertRow(nItem, lpszItem ? lpszItem : "");
    return nItem;
}

BOOL CListCtrl::SetItemText(int nItem, int nSubItem, LPCTSTR lpszText) {
    ListView* view = viewOf(this);
    if (!validRow(view, nItem) || !validSubItem(view, nSubItem)) return FALSE;
    view->rows().setCell(nItem, nSubItem, lpszText ? lpszText : "");
    return TRUE;
}

CString CListCtrl::GetItemText(int nItem, int nSubItem) const {
    const ListView* view = viewOf(this);
    if (!validRow(view, nItem) || !validSubItem(view, nSubItem)) return CString();
    return CString(std::string(view->rows().cell(nItem, nSubItem)));
}

int CListCtrl::GetItemText(int nItem, int nSubItem, LPTSTR lpszText, int nLen) const {
    if (!lpszText || nLen <= 0) return 0;
    lpszText[0] = '\0';
    const ListView* view = viewOf(this);
    if (!validRow(view, nItem) || !validSubItem(view, nSubItem)) return 0;
    const std::string_view text = view->rows().cell(nItem, nSubItem);
    const std::size_t n = ui::detail::prefixAtBoundary(text, std::size_t(nLen - 1));
    std::memcpy(lpszText, text.data(), n);
    lpszText[n] = '\0';
    return int(n);
}

BOOL CListCtrl::DeleteItem(int nItem) {
    ListView* view = shownView(this);
    if (!validRow(view, nItem)) return FALSE;
    view->quietly([&] { view->rows().removeRow(nItem); });
    return TRUE;
}

BOOL CListCtrl::DeleteAllItems() {
    ListView* view = viewOf(this);
    if (!view) return FALSE;
    view->quietly([&] { view->rows().clear(); });
    return TRUE;
}

int CListCtrl::GetItemCount() const {
    const ListView* view = viewOf(this);
    return view ? view->rows().size() : 0;
}

// A position is the selected row + 1, so that null ends the iteration.
CListCtrl::POSITION CListCtrl::GetFirstSelectedItemPosition() const {
    const ListView* view = shownView(this);
    const int row = view ? view->nextSelected(-1) : -1;
    return row < 0 ? nullptr : reinterpret_cast<POSITION>(std::intptr_t(row) + 1);
}

int CListCtrl::GetNextSelectedItem(POSITION& pos) const {
    const ListView* view = shownView(this);
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
    const ListView* view = shownView(this);
    return view ? UINT(view->selectedCount()) : 0;
}

int CListCtrl::GetNextItem(int nItem, int nFlags) const {
    const ListView* view = shownView(this);
    if (!view || nItem < -1) return -1;
    const int count = view->rows().size();
    if (UINT(nFlags) & LVNI_SELECTED) return view->nextSelected(nItem);
    if (UINT(nFlags) & ui::detail::kLvniFocused) {
        const int current = view->currentIndex().isValid() ? view->currentIndex().row() : -1;
        return current > nItem ? current : -1;
    }
    return nItem + 1 < count ? nItem + 1 : -1;
}

BOOL CListCtrl::SetItemState(int nItem, UINT nState, UINT nMask) {
    ListView* view = shownView(this);
    if (!view || (nItem != -1 && !validRow(view, nItem))) return FALSE;
    if (nMask & LVIS_SELECTED) view->setRowsSelected(nItem, (nState & LVIS_SELECTED) != 0);
    if ((nMask & LVIS_FOCUSED) && nItem >= 0) {
        auto* sel = view->selectionModel();
        if (nState & LVIS_FOCUSED)
            sel->setCurrentIndex(view->rows().index(nItem, 0), QItemSelectionModel::NoUpdate);
        else if (sel->currentIndex().row() == nItem)
            sel->setCurrentIndex({}, QItemSelectionModel::NoUpdate);
    }
    return TRUE;
}

UINT CListCtrl::GetItemState(int nItem, UINT nMask) const {
    const ListView* view = shownView(this);
    if (!validRow(view, nItem)) return 0;
    UINT state = 0;
    if (view->isRowSelected(nItem)) state |= LVIS_SELECTED;
    if (view->currentIndex().isValid() && view->currentIndex().row() == nItem)
        state |= LVIS_FOCUSED;
    return state & nMask;
}

BOOL CListCtrl::EnsureVisible(int nItem, BOOL) {
    ListView* view = shownView(this);
    if (!validRow(view, nItem)) return FALSE;
    view->scrollTo(view->rows().index(nItem, 0), QAbstractItemView::EnsureVisible);
    return TRUE;
}

BOOL CListCtrl::GetSubItemRect(int iItem, int iSubItem, int nArea, CRect& ref) const {
    const ListView* view = shownView(this);
    if (!validRow(view, iItem) || !validColumn(view, iSubItem)) return FALSE;
    // Sub-item 0's bounds are the whole row; its label is the column alone.
    const bool wholeRow = iSubItem == 0 && nArea == LVIR_BOUNDS;
    toRect(view->cellRect(iItem, wholeRow ? -1 : iSubItem), &ref);
    return TRUE;
}

BOOL CListCtrl::GetItemRect(int nItem, RECT* lpRect, UINT nCode) const {
    const ListView* view = shownView(this);
    if (!lpRect || !validRow(view, nItem) || view->rows().columnCount() == 0) return FALSE;
    toRect(view->cellRect(nItem, int(nCode) == LVIR_LABEL ? 0 : -1), lpRect);
    return TRUE;
}

int CListCtrl::SubItemHitTest(POINT pt, int* pSubItem) const {
    const ListView* view = shownView(this);
    const auto [row, col] = view ? view->hitTest(QPoint(pt.x, pt.y)) : std::pair{-1, -1};
    if (pSubItem) *pSubItem = col;
    return row;
}

IMPLEMENT_DYNAMIC(CListCtrl, CWnd)
