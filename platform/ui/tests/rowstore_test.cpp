// The list control's cells, without Qt: every edit in any order against a
// plain table of strings.
#include "rowstore.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using ui::detail::RowStore;

// What the store must read back: rows of cells, a missing cell empty.
class PlainTable {
public:
    void insertRow(int r, std::string first) {
        m_rows.insert(m_rows.begin() + r, std::vector<std::string>{std::move(first)});
    }
    void eraseRow(int r) { m_rows.erase(m_rows.begin() + r); }
    void setCell(int r, int c, std::string text) {
        auto& row = m_rows[std::size_t(r)];
        if (row.size() <= std::size_t(c)) row.resize(std::size_t(c) + 1);
        row[std::size_t(c)] = std::move(text);
    }
    void insertColumn(int c) {
        for (auto& row : m_rows)
            if (std::size_t(c) < row.size()) row.insert(row.begin() + c, std::string());
    }
    void removeColumn(int c) {
        for (auto& row : m_rows)
            if (std::size_t(c) < row.size()) row.erase(row.begin() + c);
    }
    std::string cell(int r, int c) const {
        const auto& row = m_rows[std::size_t(r)];
        return std::size_t(c) < row.size() ? row[std::size_t(c)] : std::string();
    }
    int size() const { return int(m_rows.size()); }

private:
    std::vector<std::vector<std::string>> m_rows;
};

void expectSame(const RowStore& store, const PlainTable& table, int columns, int step) {
    ASSERT_EQ(store.size(), table.size()) << "step " << step;
    for (int r = 0; r < table.size(); ++r)
        for (int c = 0; c < columns; ++c)
            ASSERT_EQ(store.cell(r, c), table.cell(r, c))
                << "row " << r << " cell " << c << " after step " << step;
}

TEST(RowStore, EditsInAnyOrderReadBackAsAPlainTable) {
    std::mt19937 random(25);
    auto pick = [&](int n) { return int(random() % unsigned(n)); };
    RowStore store;
    PlainTable table;
    constexpr int kColumns = 7;
    for (int step = 0; step < 20000; ++step) {
        // Texts from empty to a few hundred bytes, with CP936 pairs.
        std::string text(std::size_t(pick(3) == 0 ? pick(300) : pick(12)), 'a' + char(step % 26));
        if (!text.empty() && pick(4) == 0) text += "\xd3\xc3";
        const int op = pick(100);
        if (table.size() == 0 || op < 25) {
            const int r = pick(table.size() + 1);
            store.insertRow(r, text);
            table.insertRow(r, text);
        } else if (op < 35) {
            const int r = pick(table.size());
            store.eraseRow(r);
            table.eraseRow(r);
        } else if (op < 93) {
            // Mostly the last row, cell after cell, as a list is filled.
            const int r = pick(2) == 0 ? table.size() - 1 : pick(table.size());
            const int c = pick(kColumns - 1);
            store.setCell(r, c, text);
            table.setCell(r, c, text);
        } else if (op < 96) {
            const int c = pick(kColumns - 1);
            store.insertColumn(c);
            table.insertColumn(c);
        } else if (op < 99 || pick(8) != 0) {
            const int c = pick(kColumns - 1);
            store.removeColumn(c);
            table.removeColumn(c);
        } else {
            store.clear();
            table = PlainTable();
        }
        if (step % 97 == 0 || op >= 93) expectSame(store, table, kColumns, step);
    }
    expectSame(store, table, kColumns, -1);
}

TEST(RowStore, ACellSetFromAnotherCellOfTheStoreKeepsItsText) {
    RowStore store;
    store.insertRow(0, "first");
    store.insertRow(1, "second");
    for (int i = 0; i < 200; ++i) {
        // Row 0 is not the last row in the buffer: it moves as it grows.
        store.setCell(0, 1 + i % 3, store.cell(1, 0));
        store.setCell(1, 0, store.cell(1, 0));
        store.setCell(0, 0, std::string(std::size_t(i), 'x') + "first");
    }
    EXPECT_EQ(store.cell(0, 1), "second");
    EXPECT_EQ(store.cell(0, 3), "second");
    EXPECT_EQ(store.cell(1, 0), "second");
    EXPECT_EQ(store.cell(0, 0), std::string(199, 'x') + "first");

    // A large cell copied while the buffer moves to a block of its own: the
    // old block is given back to the system at once.
    RowStore large;
    large.insertRow(0, std::string(300000, 'L'));
    large.insertRow(1, "short");
    large.setCell(1, 1, large.cell(0, 0));
    EXPECT_EQ(large.cell(1, 1), std::string(300000, 'L'));
}

TEST(RowStore, RewritingRowsLeavesNoGrowingWasteBehind) {
    RowStore store;
    for (int r = 0; r < 100; ++r) store.insertRow(r, "row");
    // Each rewrite moves a row to the end of the buffer.
    for (int i = 0; i < 100000; ++i)
        store.setCell(i % 100, 1, std::string(std::size_t(i % 50), 'z'));
    EXPECT_LT(store.bytes(), 100u * 60u * 3u);
    for (int r = 0; r < 100; ++r) {
        EXPECT_EQ(store.cell(r, 0), "row");
        EXPECT_EQ(store.cell(r, 1), std::string(std::size_t((99900 + r) % 50), 'z'));
    }
}

}  // namespace
