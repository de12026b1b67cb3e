#include <string.h>

#include <cstdarg>
#include <cstdio>

#include "ui/framework.h"

void CString::Format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    if (n < 0) {
        m_s.clear();
    } else {
        std::string buf(std::size_t(n) + 1, '\0');
        std::vsnprintf(buf.data(), buf.size(), fmt, args);
        buf.resize(std::size_t(n));
        m_s = std::move(buf);
    }
    va_end(args);
}

CString& CString::TrimLeft(char c) {
    const auto first = m_s.find_first_not_of(c);
    m_s.erase(0, first == std::string::npos ? m_s.size() : first);
    return *this;
}

CString& CString::TrimRight(char c) {
    const auto last = m_s.find_last_not_of(c);
    m_s.erase(last == std::string::npos ? 0 : last + 1);
    return *this;
}

CString& CString::Trim(char c) {
    return TrimRight(c).TrimLeft(c);
}

BOOL CString::LoadString(UINT id) {
    const char* s = ui::FindString(id);
    m_s = s ? s : "";
    return s != nullptr;
}

void CString::SecureEmpty() {
    explicit_bzero(m_s.data(), m_s.size());
    m_s.clear();
}
