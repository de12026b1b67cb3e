// Run-time class information: each class that declares it names itself and
// its base, so an object can be asked what it is (IsKindOf).
#pragma once

#include "ui/types.h"

struct CRuntimeClass {
    const char* m_lpszClassName;
    const CRuntimeClass* m_pBaseClass;  // null for the root

    // TRUE when this class is pBaseClass or derives from it.
    BOOL IsDerivedFrom(const CRuntimeClass* pBaseClass) const {
        for (const CRuntimeClass* c = this; c; c = c->m_pBaseClass)
            if (c == pBaseClass) return TRUE;
        return FALSE;
    }
};

#define RUNTIME_CLASS(theClass) (&theClass::class##theClass)

#define DECLARE_DYNAMIC(theClass)               \
public:                                         \
    static const CRuntimeClass class##theClass; \
    const CRuntimeClass* GetRuntimeClass() const override;

#define IMPLEMENT_DYNAMIC(theClass, baseClass)                                             \
    const CRuntimeClass theClass::class##theClass = {#theClass, RUNTIME_CLASS(baseClass)}; \
    const CRuntimeClass* theClass::GetRuntimeClass() const {                               \
        return RUNTIME_CLASS(theClass);                                                    \
    }
