#include "rowstore.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

namespace ui::detail {

template <class T>
PodArray<T>::~PodArray() {
    std::free(m_data);
}

template <class T>
void PodArray<T>::resize(std::size_t n) {
    reserve(n);
    m_size = n;
}

template <class T>
void PodArray<T>::reserve(std::size_t n) {
    if (n <= m_capacity) return;
    const std::size_t capacity = std::max({n, m_capacity * 2, std::size_t(64)});
    void* grown = std::realloc(m_data, capacity * sizeof(T));
    if (!grown) throw std::bad_alloc();
    m_data = static_cast<T*>(grown);
    m_capacity = capacity;
}

template <class T>
void PodArray<T>::insert(std::size_t at, const T& item) {
    resize(m_size + 1);
    std::memmove(m_data + at + 1, m_data + at, (m_size - 1 - at) * sizeof(T));
    m_data[at] = item;
}

template <class T>
void PodArray<T>::erase(std::size_t at) {
    std::memmove(m_data + at, m_data + at + 1, (m_size - 1 - at) * sizeof(T));
    --m_size;
}

template <class T>
void PodArray<T>::swap(PodArray& other) noexcept {
    std::swap(m_data, other.m_data);
    std::swap(m_size, other.m_size);
    std::swap(m_capacity, other.m_capacity);
}

template class PodArray<char>;
template class PodArray<RowStore::Row>;

void RowStore::insertRow(int r, std::string_view first) {
    m_rows.insert(std::size_t(r), Row{m_pool.size(), 0, 0});
    append(r, 0, first);
    m_lastRow = r;
    m_lastRowCells = 1;
}

void RowStore::eraseRow(int r) {
    m_lastRow = -1;
    m_garbage += m_rows[std::size_t(r)].room;
    m_rows.erase(std::size_t(r));
    compactIfWasteful();
}

void RowStore::clear() {
    m_lastRow = -1;
    m_pool.clear();
    m_rows.clear();
    m_garbage = 0;
}

std::string_view RowStore::cell(int r, int c) const {
    const std::string_view cells = row(r);
    const Span s = span(cells, c);
    return s.at == std::string_view::npos ? std::string_view() : cells.substr(s.at, s.end - s.at);
}

void RowStore::setCell(int r, int c, std::string_view text) {
    // Text from the buffer itself would move as the row grows.
    std::string copy;
    if (!text.empty() && text.data() >= m_pool.data() &&
        text.data() < m_pool.data() + m_pool.size()) {
        copy.assign(text);
        text = copy;
    }
    if (r == m_lastRow && std::size_t(c) >= m_lastRowCells) {
        append(r, std::size_t(c) + 1 - m_lastRowCells, text);
    } else if (const Span s = span(row(r), c); s.at != std::string_view::npos) {
        splice(r, s.at, s.end, text);
    } else {
        append(r, std::size_t(c) + 1 - s.cells, text);
    }
    compactIfWasteful();
}

void RowStore::insertColumn(int c) {
    for (int r = 0; r < size(); ++r)
        if (const std::size_t at = span(row(r), c).at; at != std::string_view::npos) {
            splice(r, at, at, std::string_view("", 1));
            compactIfWasteful();
        }
}

void RowStore::removeColumn(int c) {
    for (int r = 0; r < size(); ++r) {
        const std::size_t size = row(r).size();
        const Span s = span(row(r), c);
        if (s.at == std::string_view::npos) continue;
        // The cell and one separator: the one after it, or for the last cell
        // the one before.
        if (s.end < size)
            splice(r, s.at, s.end + 1, {});
        else
            splice(r, s.at > 0 ? s.at - 1 : 0, s.end, {});
        compactIfWasteful();
    }
}

// A plain loop: rows are short, and a call of memchr per cell cost more than
// the scan.
RowStore::Span RowStore::span(std::string_view cells, int c) {
    const char* p = cells.data();
    const std::size_t size = cells.size();
    std::size_t at = 0;
    for (int i = 0; i < c; ++i) {
        while (at < size && p[at] != '\0') ++at;
        if (at == size) return {std::string_view::npos, std::string_view::npos, std::size_t(i) + 1};
        ++at;
    }
    std::size_t end = at;
    while (end < size && p[end] != '\0') ++end;
    return {at, end, 0};
}

std::string_view RowStore::row(int r) const {
    const Row& row = m_rows[std::size_t(r)];
    return {m_pool.data() + row.at, row.size};
}

// Adds `separators` NULs and then `text` at the end of row r.
void RowStore::append(int r, std::size_t separators, std::string_view text) {
    if (r == m_lastRow) m_lastRowCells += separators;
    Row& row = m_rows[std::size_t(r)];
    const std::size_t end = row.size;
    char* p = reserve(row, end + separators + text.size());
    std::memset(p + end, 0, separators);
    if (!text.empty()) std::memcpy(p + end + separators, text.data(), text.size());
    row.size = std::uint32_t(end + separators + text.size());
}

// Replaces bytes [from, to) of row r by `with`, which is not in the buffer.
void RowStore::splice(int r, std::size_t from, std::size_t to, std::string_view with) {
    Row& row = m_rows[std::size_t(r)];
    if (r == m_lastRow) {  // separators may come or go
        const char* at = m_pool.data() + row.at;
        m_lastRowCells = m_lastRowCells + std::size_t(std::count(with.begin(), with.end(), '\0')) -
                         std::size_t(std::count(at + from, at + to, '\0'));
    }
    const std::size_t tail = row.size - to;
    const std::size_t need = from + with.size() + tail;
    char* p = reserve(row, need);
    std::memmove(p + from + with.size(), p + to, tail);
    if (!with.empty()) std::memcpy(p + from, with.data(), with.size());
    row.size = std::uint32_t(need);
}

// Room for `need` bytes of the row. The last row in the buffer grows where
// it is, as while a list is filled; any other moves to the end, leaving its
// old bytes behind.
char* RowStore::reserve(Row& row, std::size_t need) {
    if (need <= row.room) return m_pool.data() + row.at;
    if (row.at + row.room != m_pool.size()) {
        const std::size_t at = m_pool.size();
        m_pool.resize(at + row.size);
        std::memcpy(m_pool.data() + at, m_pool.data() + row.at, row.size);
        m_garbage += row.room;
        row.at = at;
    }
    m_pool.resize(row.at + need);
    row.room = std::uint32_t(need);
    return m_pool.data() + row.at;
}

// Once bytes no row uses are most of the buffer, the rows are packed anew.
void RowStore::compactIfWasteful() {
    if (m_garbage < 4096 || m_garbage < m_pool.size() / 2) return;
    PodArray<char> pool;
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

}  // namespace ui::detail
