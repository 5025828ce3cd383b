#pragma once
// Our light windows: a tree of rectangles with z-order, text, id, styles and a message
// procedure. Only top-level windows are native; children live in their parent's client area.

#include "platform/accessibility.h"
#include "platform/gdi.h"
#include "platform/host.h"
#include "platform/win_types.h"
#include "platform/window_registry.h"

#include <string>
#include <vector>

class CMenu;

struct DRAWITEMSTRUCT {
    UINT CtlType;
    UINT CtlID;
    UINT itemID;
    UINT itemAction;
    UINT itemState;
    CWnd* hwndItem;
    HDC hDC;
    CRect rcItem;
};
using LPDRAWITEMSTRUCT = DRAWITEMSTRUCT*;

constexpr LPARAM MAKELPARAM_POINT(CPoint p)
{
    return static_cast<LPARAM>(
        static_cast<DWORD>(static_cast<WORD>(p.x) | (static_cast<DWORD>(static_cast<WORD>(p.y)) << 16)));
}
constexpr CPoint PointFromLParam(LPARAM l)
{
    return {static_cast<std::int16_t>(l & 0xFFFF), static_cast<std::int16_t>((l >> 16) & 0xFFFF)};
}

class CWnd {
public:
    CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;
    virtual ~CWnd();

    // ---- Creation ----
    // A child window at `rect` in the parent's client area, placed below its siblings.
    BOOL Create(const char* className, const char* text, DWORD style, const CRect& rect, CWnd* parent,
                UINT id);
    // A top-level window whose outer rectangle on the screen is `rect`.
    BOOL CreateTopLevel(const char* text, DWORD style, DWORD exStyle, const CRect& rect, CWnd* owner);
    BOOL DestroyWindow();
    // Takes over the child control `id` of `parent`: this object becomes that window, in its
    // place among its siblings, with its rectangle, text, styles and state.
    BOOL SubclassDlgItem(UINT id, CWnd* parent);
    CWnd* GetSafeHwnd() { return m_bCreated ? this : nullptr; }
    bool IsWindow() const { return m_bCreated; }

    // ---- Tree ----
    CWnd* GetParent() const { return m_pParent; }
    CWnd* GetOwner() const { return m_pOwner; }
    CWnd* GetTopLevel();
    CWnd* GetDlgItem(UINT id) const;
    UINT GetDlgCtrlID() const { return m_nID; }
    const std::vector<CWnd*>& Children() const { return m_children; } // topmost first
    // The topmost visible window under a point of this window's client area, or this.
    CWnd* ChildFromPoint(CPoint clientPoint);

    // ---- Geometry ----
    void GetWindowRect(CRect* rect) const; // screen coordinates
    void GetClientRect(CRect* rect) const;
    void ClientToScreen(CPoint* point) const;
    void ClientToScreen(CRect* rect) const;
    void ScreenToClient(CPoint* point) const;
    CRect RectInParent() const { return m_rect; }
    // For children: rectangle in the parent's client area. For top-levels: outer on screen.
    BOOL SetWindowPos(const CWnd* insertAfter, int x, int y, int cx, int cy, UINT flags);
    BOOL MoveWindow(int x, int y, int cx, int cy, BOOL repaint = TRUE);
    BOOL IsIconic() const;
    FrameInsets Insets() const;
    // The desktop's frame around this top-level window's client area, with or without
    // caption and menu bar.
    FrameInsets InsetsFor(bool caption, bool menuBar) const;

    // ---- Styles and text ----
    DWORD GetStyle() const { return m_dwStyle; }
    DWORD GetExStyle() const { return m_dwExStyle; }
    BOOL ModifyStyle(DWORD remove, DWORD add, UINT flags = 0);
    BOOL ModifyStyleEx(DWORD remove, DWORD add, UINT flags = 0);
    void SetWindowText(const char* text);
    int GetWindowText(char* buffer, int maxCount) const;
    const std::string& WindowText() const { return m_strText; }
    BOOL ShowWindow(int command);
    BOOL IsWindowVisible() const;
    HICON SetIcon(HICON icon, BOOL big);
    HICON GetIcon(BOOL big) const { return big ? m_hIconBig : m_hIconSmall; }

    // ---- Painting ----
    void Invalidate(BOOL erase = TRUE);
    void InvalidateRect(const CRect* rect, BOOL erase = TRUE);
    void UpdateWindow() {}
    // The drawing context prepared for the paint under way; CPaintDC picks it up.
    CDC* m_pPaintDC = nullptr;

    // ---- Messages ----
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual BOOL PreTranslateMessage(MSG* msg);
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // The default processing of the message being handled.
    LRESULT Default();

    // ---- Mouse capture ----
    CWnd* SetCapture();
    static CWnd* GetCapture();
    static BOOL ReleaseCapture();
    CWnd* SetFocus();
    static CWnd* GetFocus();

    // ---- Timers ----
    UINT SetTimer(UINT id, UINT elapse, void* callback);
    BOOL KillTimer(UINT id);

    // ---- Menu bar ----
    BOOL SetMenu(CMenu* menu);
    CMenu* GetMenu() const { return m_pMenu; }
    void DrawMenuBar();

    // The styles of the window's class. Every class reports a second quick left press as a
    // double-click (CS_DBLCLKS) unless it says otherwise.
    virtual UINT GetClassStyle() const { return CS_DBLCLKS; }

    // ---- Accessibility ----
    // How a screen reader knows this window: a plain panel named by its text, unless the
    // control says better. A control repaints itself whenever any of these changes. A reader
    // presses a button (also a radio button) as a short click of the mouse does.
    virtual AccessibleRole GetAccessibleRole() const { return AccessibleRole::Panel; }
    virtual std::string GetAccessibleName() const { return m_strText; }
    // What the control is for, which a reader says with its name when it lights.
    virtual std::string GetAccessibleDescription() const { return {}; }
    virtual AccessibleState GetAccessibleState() const { return {}; }
    // Read for a dial only; a reader sets it as the user would turn the dial.
    virtual AccessibleValue GetAccessibleValue() const { return {}; }
    virtual void SetAccessibleValue(int) {}

protected:
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    // The command handlers bound to control notifications; TRUE when one handled it.
    virtual BOOL OnCmdMsg(UINT id, int code);
    virtual int OnCreate();
    virtual void OnPaint();
    virtual void OnShowWindow(BOOL show, UINT status);
    virtual BOOL OnSetCursor(CWnd* window, UINT hitTest, UINT message);
    virtual void OnLButtonDown(UINT flags, CPoint point);
    virtual void OnLButtonUp(UINT flags, CPoint point);
    virtual void OnLButtonDblClk(UINT flags, CPoint point);
    virtual void OnMouseMove(UINT flags, CPoint point);
    virtual void OnTimer(UINT id);
    virtual void OnClose();
    virtual HICON OnQueryDragIcon();
    virtual void OnActivate(UINT state, CWnd* other, BOOL minimized);
    // A popup of the menu bar is about to open: the moment to bring its items up to date.
    virtual void OnInitMenuPopup(CMenu* popup, UINT index, BOOL sysMenu);
    virtual void OnKillFocus(CWnd* newWindow);
    // A key that belongs to the menu bar, which had no use for it: `virtualKey` is 'A' to 'Z'
    // for a letter pressed with Alt.
    virtual void OnSysKeyDown(UINT virtualKey, UINT repeatCount, UINT flags);
    // A window made from a template that this window owns and deletes.
    void OwnChild(CWnd* child) { m_ownedPlaceholders.push_back(child); }

private:
    friend class WindowManager;
    void Unlink();
    void InsertChild(CWnd* child, size_t position);
    CRect RectInTopClient() const;

    std::string m_strText;
    DWORD m_dwStyle = 0;
    DWORD m_dwExStyle = 0;
    UINT m_nID = 0;
    CRect m_rect; // in the parent's client area, or outer on screen
    bool m_bCreated = false;
    bool m_bTopLevel = false;
    bool m_bShown = false;
    CWnd* m_pParent = nullptr;
    CWnd* m_pOwner = nullptr;
    std::vector<CWnd*> m_children; // topmost first
    std::vector<CWnd*> m_ownedPlaceholders;
    CMenu* m_pMenu = nullptr;
    HICON m_hIconBig = nullptr;
    HICON m_hIconSmall = nullptr;
    MSG m_currentMsg;
};

// The drawing context of the paint under way for a window.
class CPaintDC {
public:
    explicit CPaintDC(CWnd* window) : m_pDC(window->m_pPaintDC) {}
    CDC* operator->() const { return m_pDC; }
    operator CDC*() const { return m_pDC; }
    CDC* GetDC() const { return m_pDC; }
    HDC GetSafeHdc() const { return m_pDC; }

private:
    CDC* m_pDC;
};

// Cursors are resource ids: LoadCursor gives the id back, SetCursor shows it.
using HCURSOR = int;
HCURSOR LoadCursorA(HINSTANCE instance, const char* name);
HCURSOR SetCursor(HCURSOR cursor);
HCURSOR CurrentCursor();

// The part of the desktop that windows may use.
CRect GetWorkArea();

int MessageBoxA(CWnd* owner, const char* text, const char* caption, UINT type);
