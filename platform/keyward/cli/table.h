#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace keyward::cli {

// How a listing is printed: aligned for people, or for scripts.
enum class Format { Table, Tsv, Json };

enum class Readers { People, Scripts };

// text as a terminal may show it: tab, newline and carriage return written
// \t, \n and \r, other control characters (C0 and DEL as \xHH, C1 as
// \u00HH) too, so that a stored name cannot drive the terminal. For people,
// bytes that are not UTF-8 are written \xHH as well; for scripts they stay
// as stored and a backslash is doubled, so that the text can be read back.
std::string escapeControls(const std::string& text, Readers readers);

// Columns of UTF-8 text, escaped for people, padded for a terminal where a
// Chinese character takes two cells.
class Table {
public:
    explicit Table(std::vector<std::string> header);
    void add(std::vector<std::string> row);
    std::string render() const;

private:
    std::vector<std::vector<std::string>> m_rows;
};

// One field of a listing for scripts: absent, a number, or UTF-8 text.
using Value = std::variant<std::nullptr_t, std::int64_t, std::string>;

// Rows for scripts, whatever the text holds.
// TSV: a header line of the keys, then one line per row, fields separated by
// a tab; text escaped for scripts (escapeControls); an absent value is an
// empty field.
// JSON: an array of objects, one per line; an absent value is null; control
// characters are \u escapes, bytes that are not UTF-8 become U+FFFD.
class Records {
public:
    explicit Records(std::vector<std::string> keys);
    void add(std::vector<Value> row);
    std::string tsv() const;
    std::string json() const;

private:
    std::vector<std::string> m_keys;
    std::vector<std::vector<Value>> m_rows;
};

// The table for people, or the records for scripts.
std::string render(Format format, const Table& table, const Records& records);

}  // namespace keyward::cli
