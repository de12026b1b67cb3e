// Typed passwords leave no copy behind: a CWipeOnExit wipes a string when
// its scope ends, whichever way the scope is left.
#pragma once

#include "ui/framework.h"

class CWipeOnExit {
public:
    explicit CWipeOnExit(CString& str) : m_str(str) {}
    ~CWipeOnExit() { m_str.SecureEmpty(); }
    CWipeOnExit(const CWipeOnExit&) = delete;
    CWipeOnExit& operator=(const CWipeOnExit&) = delete;

private:
    CString& m_str;
};
