#include "table.h"

#include <algorithm>

#include "text.h"

namespace keyward::cli {

namespace {

// Terminal cells: a CP936 character of two bytes is a wide one. Text that
// has no CP936 form counts one cell per character.
std::size_t cells(const std::string& utf8) {
    if (auto cp936 = utf8ToCp936(utf8)) return cp936->str().size();
    return static_cast<std::size_t>(std::count_if(utf8.begin(), utf8.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xc0) != 0x80;
    }));
}

}  // namespace

Table::Table(std::vector<std::string> header) {
    m_rows.push_back(std::move(header));
}

void Table::add(std::vector<std::string> row) {
    m_rows.push_back(std::move(row));
}

std::string Table::render() const {
    std::vector<std::size_t> widths;
    for (const auto& row : m_rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], cells(row[i]));
    }
    std::string out;
    for (const auto& row : m_rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) line.append(widths[i] - cells(row[i]) + 2, ' ');
        }
        out += line + '\n';
    }
    return out;
}

}  // namespace keyward::cli
