// CString: a byte string holding CP936 text. Lengths are bytes, so a Chinese
// character counts two, as every length limit of the program counts.
#pragma once

#include <string>
#include <string_view>

#include "ui/types.h"

class CString {
public:
    CString() = default;
    CString(const char* s) : m_s(s ? s : "") {}
    CString(const char* s, int n) : m_s(s ? std::string(s, std::size_t(n)) : std::string()) {}
    CString(std::string s) : m_s(std::move(s)) {}

    int GetLength() const { return int(m_s.size()); }
    BOOL IsEmpty() const { return m_s.empty(); }
    void Empty() { m_s.clear(); }
    // Overwrites the bytes before emptying: for passwords.
    void SecureEmpty();
    const char* GetString() const { return m_s.c_str(); }
    operator const char*() const { return m_s.c_str(); }
    const std::string& str() const { return m_s; }

    // printf-style formatting of CP936 arguments.
    void Format(const char* fmt, ...) __attribute__((format(printf, 2, 3)));

    // Removes the given character (default ' ') from the ends.
    CString& Trim(char c = ' ');
    CString& TrimLeft(char c = ' ');
    CString& TrimRight(char c = ' ');

    // Loads a string resource; FALSE (and empty) when it does not exist.
    BOOL LoadString(UINT id);

    CString& operator=(const char* s) {
        m_s = s ? s : "";
        return *this;
    }
    CString& operator+=(const CString& o) {
        m_s += o.m_s;
        return *this;
    }
    CString& operator+=(const char* s) {
        m_s += s ? s : "";
        return *this;
    }
    CString& operator+=(char c) {
        m_s += c;
        return *this;
    }
    friend CString operator+(CString a, const CString& b) { return a += b; }
    friend CString operator+(CString a, const char* b) { return a += b; }
    friend bool operator==(const CString& a, const CString& b) { return a.m_s == b.m_s; }
    friend bool operator==(const CString& a, const char* b) { return a.m_s == (b ? b : ""); }
    friend bool operator!=(const CString& a, const CString& b) { return !(a == b); }
    friend bool operator!=(const CString& a, const char* b) { return !(a == b); }
    friend bool operator<(const CString& a, const CString& b) { return a.m_s < b.m_s; }

private:
    std::string m_s;
};
