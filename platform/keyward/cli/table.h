#pragma once

#include <string>
#include <vector>

namespace keyward::cli {

// Columns of UTF-8 text, padded for a terminal where a Chinese character
// takes two cells.
class Table {
public:
    explicit Table(std::vector<std::string> header);
    void add(std::vector<std::string> row);
    std::string render() const;

private:
    std::vector<std::vector<std::string>> m_rows;
};

}  // namespace keyward::cli
