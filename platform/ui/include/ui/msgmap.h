// Message maps: a static table per class, linked to its base class's table.
// Entry macros cast through the exact member-function type, so a handler with
// the wrong signature does not compile.
#pragma once

#include <bit>

#include "ui/types.h"

class CCmdTarget;
class CWnd;
class CDC;
class CScrollBar;

using AFX_PMSG = void (CCmdTarget::*)();

enum class MsgKind {
    End,
    Message,        // a window message to this window
    Command,        // WM_COMMAND with notification code `code` from control/menu `id`
    Notify,         // WM_NOTIFY `code` from child `id`
    NotifyReflect,  // WM_NOTIFY `code` reflected back to the control that sent it
};

enum class MsgSig {
    v_v,         // void f()
    l_wl,        // LRESULT f(WPARAM, LPARAM)
    v_notify,    // void f(NMHDR*, LRESULT*)
    b_help,      // BOOL f(HELPINFO*)
    h_ctlcolor,  // HBRUSH f(CDC*, CWnd*, UINT)
    v_syscmd,    // void f(UINT, LPARAM)
    h_v,         // HCURSOR f()
    v_wnd,       // void f(CWnd*)
    v_mouse,     // void f(UINT, CPoint)
    v_scroll,    // void f(UINT, UINT, CScrollBar*)
    v_uptr,      // void f(UINT_PTR)
};

struct MsgMapEntry {
    MsgKind kind;
    UINT message;
    UINT code;
    UINT id;
    MsgSig sig;
    AFX_PMSG pfn;
};

struct MsgMap {
    const MsgMap* (*pfnGetBaseMap)();
    const MsgMapEntry* entries;
};

#define DECLARE_MESSAGE_MAP()                     \
protected:                                        \
    static const MsgMap* GetThisMessageMap();     \
    const MsgMap* GetMessageMap() const override; \
                                                  \
private:

#define BEGIN_MESSAGE_MAP(theClass, baseClass)       \
    const MsgMap* theClass::GetMessageMap() const {  \
        return GetThisMessageMap();                  \
    }                                                \
    const MsgMap* theClass::GetThisMessageMap() {    \
        using ThisClass [[maybe_unused]] = theClass; \
        using TheBaseClass = baseClass;              \
        static const MsgMapEntry s_entries[] = {
#define END_MESSAGE_MAP()                                                      \
    { MsgKind::End, 0, 0, 0, MsgSig::v_v, nullptr }                            \
    }                                                                          \
    ;                                                                          \
    static const MsgMap s_map = {&TheBaseClass::GetThisMessageMap, s_entries}; \
    return &s_map;                                                             \
    }

// Checks the handler against its exact type, then stores it generically.
#define UI_PMSG(R, ARGS, fn) \
    std::bit_cast<AFX_PMSG>( \
        static_cast<R(CCmdTarget::*) ARGS>(static_cast<R(ThisClass::*) ARGS>(&ThisClass::fn)))

#define ON_MESSAGE(msg, fn) \
    {MsgKind::Message, UINT(msg), 0, 0, MsgSig::l_wl, UI_PMSG(LRESULT, (WPARAM, LPARAM), fn)},
#define ON_COMMAND(id, fn) \
    {MsgKind::Command, WM_COMMAND, 0, UINT(id), MsgSig::v_v, UI_PMSG(void, (), fn)},
#define ON_CONTROL(code, id, fn) \
    {MsgKind::Command, WM_COMMAND, UINT(code), UINT(id), MsgSig::v_v, UI_PMSG(void, (), fn)},
#define ON_BN_CLICKED(id, fn) ON_CONTROL(BN_CLICKED, id, fn)
#define ON_CBN_SELCHANGE(id, fn) ON_CONTROL(CBN_SELCHANGE, id, fn)
#define ON_EN_CHANGE(id, fn) ON_CONTROL(EN_CHANGE, id, fn)
#define ON_NOTIFY(code, id, fn)                     \
    {MsgKind::Notify, WM_NOTIFY,        UINT(code), \
     UINT(id),        MsgSig::v_notify, UI_PMSG(void, (NMHDR*, LRESULT*), fn)},
#define ON_NOTIFY_REFLECT(code, fn) \
    {MsgKind::NotifyReflect,        \
     WM_NOTIFY,                     \
     UINT(code),                    \
     0,                             \
     MsgSig::v_notify,              \
     UI_PMSG(void, (NMHDR*, LRESULT*), fn)},
#define ON_WM_CLOSE() {MsgKind::Message, WM_CLOSE, 0, 0, MsgSig::v_v, UI_PMSG(void, (), OnClose)},
#define ON_WM_PAINT() {MsgKind::Message, WM_PAINT, 0, 0, MsgSig::v_v, UI_PMSG(void, (), OnPaint)},
#define ON_WM_HELPINFO() \
    {MsgKind::Message, WM_HELP, 0, 0, MsgSig::b_help, UI_PMSG(BOOL, (HELPINFO*), OnHelpInfo)},
#define ON_WM_CTLCOLOR() \
    {MsgKind::Message,   \
     WM_CTLCOLORSTATIC,  \
     0,                  \
     0,                  \
     MsgSig::h_ctlcolor, \
     UI_PMSG(HBRUSH, (CDC*, CWnd*, UINT), OnCtlColor)},
#define ON_WM_SYSCOMMAND() \
    {MsgKind::Message,     \
     WM_SYSCOMMAND,        \
     0,                    \
     0,                    \
     MsgSig::v_syscmd,     \
     UI_PMSG(void, (UINT, LPARAM), OnSysCommand)},
#define ON_WM_QUERYDRAGICON() \
    {MsgKind::Message, WM_QUERYDRAGICON, 0, 0, MsgSig::h_v, UI_PMSG(HCURSOR, (), OnQueryDragIcon)},
#define ON_WM_KILLFOCUS() \
    {MsgKind::Message, WM_KILLFOCUS, 0, 0, MsgSig::v_wnd, UI_PMSG(void, (CWnd*), OnKillFocus)},
#define ON_WM_LBUTTONDOWN() \
    {MsgKind::Message,      \
     WM_LBUTTONDOWN,        \
     0,                     \
     0,                     \
     MsgSig::v_mouse,       \
     UI_PMSG(void, (UINT, CPoint), OnLButtonDown)},
#define ON_WM_RBUTTONDOWN() \
    {MsgKind::Message,      \
     WM_RBUTTONDOWN,        \
     0,                     \
     0,                     \
     MsgSig::v_mouse,       \
     UI_PMSG(void, (UINT, CPoint), OnRButtonDown)},
#define ON_WM_VSCROLL() \
    {MsgKind::Message,  \
     WM_VSCROLL,        \
     0,                 \
     0,                 \
     MsgSig::v_scroll,  \
     UI_PMSG(void, (UINT, UINT, CScrollBar*), OnVScroll)},
#define ON_WM_HSCROLL() \
    {MsgKind::Message,  \
     WM_HSCROLL,        \
     0,                 \
     0,                 \
     MsgSig::v_scroll,  \
     UI_PMSG(void, (UINT, UINT, CScrollBar*), OnHScroll)},
#define ON_WM_TIMER() \
    {MsgKind::Message, WM_TIMER, 0, 0, MsgSig::v_uptr, UI_PMSG(void, (UINT_PTR), OnTimer)},
