// Windows: CCmdTarget (message-map dispatch) and CWnd (a window and its
// handle), plus the painting and font objects handlers receive.
#pragma once

#include <memory>

#include "ui/cstring.h"
#include "ui/msgmap.h"
#include "ui/runtimeclass.h"
#include "ui/types.h"

class CMenu;
class CFont;

namespace ui::detail {
struct WndAccess;
}

class CCmdTarget {
public:
    virtual ~CCmdTarget() = default;

    // The root of the run-time class chain.
    static const CRuntimeClass classCCmdTarget;
    virtual const CRuntimeClass* GetRuntimeClass() const;
    BOOL IsKindOf(const CRuntimeClass* pClass) const {
        return GetRuntimeClass()->IsDerivedFrom(pClass);
    }

protected:
    static const MsgMap* GetThisMessageMap();
    virtual const MsgMap* GetMessageMap() const;
};

// A font: point size and face, created for the screen. The faces of the
// templates ("宋体", "MS Shell Dlg") map to an installed CJK-capable family.
class CFont {
public:
    CFont();
    ~CFont();
    CFont(const CFont&) = delete;
    CFont& operator=(const CFont&) = delete;

    // nPointSize in tenths of a point; the face in CP936.
    BOOL CreatePointFont(int nPointSize, LPCTSTR lpszFaceName, void* pDC = nullptr);
    BOOL DeleteObject();
    BOOL IsCreated() const;

private:
    friend struct ui::detail::WndAccess;
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// A device context as handlers see it: text colour, background mode and icon
// drawing. The control being coloured paints with what the handler set.
class CDC {
public:
    virtual ~CDC() = default;
    COLORREF SetTextColor(COLORREF c);
    int SetBkMode(int mode);
    COLORREF GetTextColor() const { return m_textColor; }
    int GetBkMode() const { return m_bkMode; }
    BOOL HasTextColor() const { return m_hasTextColor; }
    virtual BOOL DrawIcon(int x, int y, HICON hIcon);
    HANDLE GetSafeHdc() const { return reinterpret_cast<HANDLE>(const_cast<CDC*>(this)); }
    operator HANDLE() const { return GetSafeHdc(); }

private:
    COLORREF m_textColor = 0;
    BOOL m_hasTextColor = FALSE;
    int m_bkMode = OPAQUE;
};

class CWnd : public CCmdTarget {
    DECLARE_DYNAMIC(CWnd)

public:
    CWnd();
    ~CWnd() override;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND m_hWnd = nullptr;
    HWND GetSafeHwnd() const { return m_hWnd; }
    operator HWND() const { return m_hWnd; }

    // The permanent object of a handle, or a framework-owned object of the
    // control's class (CEdit, CButton, ...) for a template control nobody bound.
    static CWnd* FromHandle(HWND hWnd);

    // Creates a child control window; the style decides its kind for plain
    // CWnd; the control classes create their own kind.
    virtual BOOL Create(LPCTSTR lpszClassName, LPCTSTR lpszWindowName, DWORD dwStyle,
                        const RECT& rect, CWnd* pParentWnd, UINT nID);
    virtual BOOL DestroyWindow();

    // Keys and other input pass here first, from the window that has them up
    // through its parents to the dialog; TRUE consumes the message.
    virtual BOOL PreTranslateMessage(MSG* pMsg);

    CWnd* GetDlgItem(int nID) const;
    int GetDlgCtrlID() const;
    CWnd* GetParent() const;

    void SetWindowText(LPCTSTR lpszString);
    int GetWindowText(LPTSTR lpszStringBuf, int nMaxCount) const;
    void GetWindowText(CString& rString) const;
    int GetWindowTextLength() const;
    BOOL EnableWindow(BOOL bEnable = TRUE);
    BOOL IsWindowEnabled() const;
    BOOL ShowWindow(int nCmdShow);
    BOOL IsWindowVisible() const;
    BOOL IsIconic() const;
    CWnd* SetFocus();
    static CWnd* GetFocus();
    void MoveWindow(int x, int y, int nWidth, int nHeight, BOOL bRepaint = TRUE);
    void MoveWindow(const RECT* lpRect, BOOL bRepaint = TRUE);
    void GetWindowRect(RECT* lpRect) const;
    void GetClientRect(RECT* lpRect) const;
    void ScreenToClient(POINT* lpPoint) const;
    void ScreenToClient(RECT* lpRect) const;
    void ClientToScreen(POINT* lpPoint) const;
    void ClientToScreen(RECT* lpRect) const;
    void SetFont(CFont* pFont, BOOL bRedraw = TRUE);
    CFont* GetFont() const;
    DWORD GetStyle() const;
    DWORD GetExStyle() const;
    BOOL ModifyStyleEx(DWORD dwRemove, DWORD dwAdd, UINT nFlags = 0);
    BOOL SetForegroundWindow();
    CMenu* GetSystemMenu(BOOL bRevert) const;
    HICON SetIcon(HICON hIcon, BOOL bBigIcon);
    // The window's class name as the desktop reports it ("#32770" for dialogs).
    CString GetClassName() const;

    // Synchronous: the target's handler runs at once, nested in the caller.
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    // Queued on the event loop, delivered in FIFO order.
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

    int MessageBox(LPCTSTR lpszText, LPCTSTR lpszCaption = nullptr, UINT nType = MB_OK);

    // Sends WM_TIMER (wParam nIDEvent) to the window every nElapse
    // milliseconds until KillTimer or the window goes; setting a running
    // timer again starts its interval anew. Returns nIDEvent, 0 when the
    // window does not exist or lpfnTimer is not null.
    UINT_PTR SetTimer(UINT_PTR nIDEvent, UINT nElapse, TIMERPROC lpfnTimer);
    BOOL KillTimer(UINT_PTR nIDEvent);

    // Dispatch. WindowProc runs the message map and falls back to DefWindowProc.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Runs the framework's default handling of the message being dispatched.
    LRESULT Default();

protected:
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    virtual BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    // A notification reflected back from the parent; TRUE if handled here.
    virtual BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    // Called as the window's widget is created; control classes make theirs.

    // Default handlers that message maps of derived classes may call.
    void OnClose();
    void OnPaint();
    BOOL OnHelpInfo(HELPINFO* pHelpInfo);
    HBRUSH OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor);
    void OnSysCommand(UINT nID, LPARAM lParam);
    HCURSOR OnQueryDragIcon();
    void OnKillFocus(CWnd* pNewWnd);
    void OnLButtonDown(UINT nFlags, CPoint point);
    void OnRButtonDown(UINT nFlags, CPoint point);
    void OnVScroll(UINT nSBCode, UINT nPos, CScrollBar* pScrollBar);
    void OnHScroll(UINT nSBCode, UINT nPos, CScrollBar* pScrollBar);
    void OnTimer(UINT_PTR nIDEvent);

    static const MsgMap* GetThisMessageMap();
    const MsgMap* GetMessageMap() const override;

private:
    friend struct ui::detail::WndAccess;
};

class CScrollBar : public CWnd {};

// Messages by handle; a handle whose window is gone receives nothing.
LRESULT SendMessage(HWND hWnd, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
BOOL PostMessage(HWND hWnd, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

// A paint context opened on a window for OnPaint.
class CPaintDC : public CDC {
public:
    explicit CPaintDC(CWnd* pWnd);
    BOOL DrawIcon(int x, int y, HICON hIcon) override;

private:
    CWnd* m_pWnd;
};
