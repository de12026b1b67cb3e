#include "table.h"

#include <algorithm>
#include <cstdio>

#include "text.h"

namespace keyward::cli {

namespace {

// Length of the well-formed UTF-8 sequence at s[i], 0 when there is none
// (stray continuation bytes, overlong forms, surrogates, beyond U+10FFFF).
std::size_t utf8Length(const std::string& s, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char b = byte(i);
    if (b < 0x80) return 1;
    std::size_t n = 0;
    unsigned char lo = 0x80, hi = 0xbf;  // range of the second byte
    if (b >= 0xc2 && b <= 0xdf)
        n = 2;
    else if (b == 0xe0)
        n = 3, lo = 0xa0;
    else if (b == 0xed)
        n = 3, hi = 0x9f;
    else if (b >= 0xe1 && b <= 0xef)
        n = 3;
    else if (b == 0xf0)
        n = 4, lo = 0x90;
    else if (b >= 0xf1 && b <= 0xf3)
        n = 4;
    else if (b == 0xf4)
        n = 4, hi = 0x8f;
    else
        return 0;
    if (i + n > s.size() || byte(i + 1) < lo || byte(i + 1) > hi) return 0;
    for (std::size_t k = 2; k < n; ++k)
        if ((byte(i + k) & 0xc0) != 0x80) return 0;
    return n;
}

// The code point of the well-formed sequence of n bytes at s[i].
char32_t codePoint(const std::string& s, std::size_t i, std::size_t n) {
    static constexpr unsigned char kLead[] = {0, 0x7f, 0x1f, 0x0f, 0x07};
    char32_t c = static_cast<unsigned char>(s[i]) & kLead[n];
    for (std::size_t k = 1; k < n; ++k)
        c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3f);
    return c;
}

// What a terminal acts on instead of showing: C0, DEL and C1.
bool isControl(char32_t c) {
    return c < 0x20 || (c >= 0x7f && c < 0xa0);
}

// Terminal cells: a CP936 character of two bytes is a wide one. Text that
// has no CP936 form counts one cell per character.
std::size_t cells(const std::string& utf8) {
    if (auto cp936 = utf8ToCp936(utf8)) return cp936->str().size();
    return static_cast<std::size_t>(std::count_if(utf8.begin(), utf8.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xc0) != 0x80;
    }));
}

}  // namespace

std::string escapeControls(const std::string& text, Readers readers) {
    const bool scripts = readers == Readers::Scripts;
    std::string out;
    char buf[8];
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = utf8Length(text, i);
        const char32_t c = n == 0 ? 0 : codePoint(text, i, n);
        if (n == 0) {
            // A byte that is no UTF-8: scripts get it as stored.
            if (scripts) {
                out += text[i];
            } else {
                std::snprintf(buf, sizeof buf, "\\x%02x", static_cast<unsigned char>(text[i]));
                out += buf;
            }
        } else if (c == '\\' && scripts) {
            out += "\\\\";
        } else if (c == '\t' || c == '\n' || c == '\r') {
            out += c == '\t' ? "\\t" : c == '\n' ? "\\n" : "\\r";
        } else if (isControl(c)) {
            std::snprintf(buf, sizeof buf, n == 1 ? "\\x%02x" : "\\u%04x",
                          static_cast<unsigned>(c));
            out += buf;
        } else {
            out.append(text, i, n);
        }
        i += n == 0 ? 1 : n;
    }
    return out;
}

Table::Table(std::vector<std::string> header) {
    m_rows.push_back(std::move(header));
}

void Table::add(std::vector<std::string> row) {
    for (auto& cell : row) cell = escapeControls(cell, Readers::People);
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

namespace keyward::cli {

namespace {

std::string tsvField(const Value& value) {
    if (const auto* n = std::get_if<std::int64_t>(&value)) return std::to_string(*n);
    const auto* text = std::get_if<std::string>(&value);
    return text != nullptr ? escapeControls(*text, Readers::Scripts) : "";
}

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = utf8Length(text, i);
        if (n == 0) {
            out += "\\ufffd";
            ++i;
            continue;
        }
        const char32_t c = codePoint(text, i, n);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += text[i];
        } else if (isControl(c)) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
            out += buf;
        } else {
            out.append(text, i, n);
        }
        i += n;
    }
    return out + "\"";
}

std::string jsonValue(const Value& value) {
    if (const auto* n = std::get_if<std::int64_t>(&value)) return std::to_string(*n);
    if (const auto* text = std::get_if<std::string>(&value)) return jsonString(*text);
    return "null";
}

}  // namespace

Records::Records(std::vector<std::string> keys) : m_keys(std::move(keys)) {}

void Records::add(std::vector<Value> row) {
    row.resize(m_keys.size());
    m_rows.push_back(std::move(row));
}

std::string Records::tsv() const {
    std::string out;
    auto line = [&](const auto& fields, auto field) {
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (i != 0) out += '\t';
            out += field(fields[i]);
        }
        out += '\n';
    };
    line(m_keys, [](const std::string& key) { return key; });
    for (const auto& row : m_rows) line(row, tsvField);
    return out;
}

std::string Records::json() const {
    if (m_rows.empty()) return "[]\n";
    std::string out = "[\n";
    for (std::size_t r = 0; r < m_rows.size(); ++r) {
        out += "  {";
        for (std::size_t i = 0; i < m_keys.size(); ++i) {
            if (i != 0) out += ',';
            out += jsonString(m_keys[i]);
            out += ':';
            out += jsonValue(m_rows[r][i]);
        }
        out += r + 1 < m_rows.size() ? "},\n" : "}\n";
    }
    return out + "]\n";
}

}  // namespace keyward::cli

namespace keyward::cli {

std::string render(Format format, const Table& table, const Records& records) {
    switch (format) {
        case Format::Tsv:
            return records.tsv();
        case Format::Json:
            return records.json();
        case Format::Table:
            break;
    }
    return table.render();
}

}  // namespace keyward::cli
