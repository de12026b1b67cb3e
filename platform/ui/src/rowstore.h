// The cells of a list's rows, as the program gave them (CP936 bytes), free
// of Qt: the list control's model shows them, this keeps them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>

namespace ui::detail {

// A growable array of trivially copyable items in one malloc'd block, grown
// by realloc: at the top of the heap, where a list being filled keeps its
// block, realloc grows the block where it is instead of copying it into a
// fresh one. Measured at start-up with 100,000 users and the heap on huge
// pages: 3-4 ms less CPU than std::vector. New items are left as they are:
// the caller writes them.
template <class T>
class PodArray {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    PodArray() = default;
    PodArray(const PodArray&) = delete;
    PodArray& operator=(const PodArray&) = delete;
    ~PodArray();

    std::size_t size() const { return m_size; }
    T* data() { return m_data; }
    const T* data() const { return m_data; }
    T& operator[](std::size_t i) { return m_data[i]; }
    const T& operator[](std::size_t i) const { return m_data[i]; }
    T* begin() { return m_data; }
    T* end() { return m_data + m_size; }

    void resize(std::size_t n);
    void reserve(std::size_t n);
    void clear() { m_size = 0; }
    void insert(std::size_t at, const T& item);
    void erase(std::size_t at);
    void swap(PodArray& other) noexcept;

private:
    T* m_data = nullptr;
    std::size_t m_size = 0;
    std::size_t m_capacity = 0;
};

// Every row in one buffer, each row its cells separated by NUL (which no C
// string holds): filling a list allocates nothing per row or cell, and
// emptying it frees one buffer. Rows and columns are counted from 0; the
// caller keeps indexes in range (rows 0..size()-1, or 0..size() to insert).
class RowStore {
public:
    int size() const { return int(m_rows.size()); }

    // A new row r holding one cell.
    void insertRow(int r, std::string_view first);
    void eraseRow(int r);
    void clear();

    // Cell c of row r; empty when the row holds fewer cells.
    std::string_view cell(int r, int c) const;
    // Missing cells before c become empty. The text may be a cell of this
    // store.
    void setCell(int r, int c, std::string_view text);

    // Every row that holds cells at or after c gets an empty cell c, or
    // loses cell c.
    void insertColumn(int c);
    void removeColumn(int c);

    // Bytes the buffer holds: the rows' and what moved rows left behind.
    std::size_t bytes() const { return m_pool.size(); }

private:
    struct Row {
        std::size_t at;      // where the row starts in the buffer
        std::uint32_t size;  // bytes it uses
        std::uint32_t room;  // bytes it may grow to where it is
    };
    // Where cell c lies in a row: [at, end), or at = npos and the number of
    // cells the row holds when it holds fewer.
    struct Span {
        std::size_t at, end, cells;
    };
    static Span span(std::string_view cells, int c);

    std::string_view row(int r) const;
    void append(int r, std::size_t separators, std::string_view text);
    void splice(int r, std::size_t from, std::size_t to, std::string_view with);
    char* reserve(Row& row, std::size_t need);
    void compactIfWasteful();

    PodArray<char> m_pool;
    PodArray<Row> m_rows;
    std::size_t m_garbage = 0;  // bytes of the buffer no row uses
    // The row inserted last and how many cells it holds, while only cells
    // were added to it: a list filled row after row, cell after cell, adds
    // each cell at the end without looking for its place.
    int m_lastRow = -1;
    std::size_t m_lastRowCells = 0;
};

}  // namespace ui::detail
