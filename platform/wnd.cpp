#include "platform/wnd.h"

#include "platform/menu.h"

#include <algorithm>
#include <cstring>

namespace {
WindowRegistry& Registry() { return WindowRegistry::Instance(); }
HCURSOR g_currentCursor = 0;
} // namespace

CWnd::~CWnd()
{
    DestroyWindow();
    for (CWnd* placeholder : m_ownedPlaceholders)
        delete placeholder;
}

// ---- Creation ------------------------------------------------------------------------------

BOOL CWnd::Create(const char* className, const char* text, DWORD style, const CRect& rect, CWnd* parent,
                  UINT id)
{
    if (m_bCreated || parent == nullptr || !parent->m_bCreated)
        return FALSE;
    m_strText = text ? text : "";
    m_dwStyle = style | WS_CHILD;
    m_nID = id;
    m_rect = rect;
    m_bTopLevel = false;
    m_bCreated = true;
    Registry().Register(this);
    // A new child goes below its existing siblings.
    parent->InsertChild(this, parent->m_children.size());
    if (SendMessage(WM_CREATE) == -1) {
        DestroyWindow();
        return FALSE;
    }
    if (m_dwStyle & WS_VISIBLE) {
        SendMessage(WM_SHOWWINDOW, TRUE, 0);
        Invalidate();
    }
    return TRUE;
}

BOOL CWnd::CreateTopLevel(const char* text, DWORD style, DWORD exStyle, const CRect& rect, CWnd* owner)
{
    if (m_bCreated)
        return FALSE;
    m_strText = text ? text : "";
    m_dwStyle = style & ~WS_VISIBLE;
    m_dwExStyle = exStyle;
    m_rect = rect;
    m_bTopLevel = true;
    m_pOwner = owner;
    m_bCreated = true;
    Registry().Register(this);
    TheHost().WindowCreated(this);
    if (SendMessage(WM_CREATE) == -1) {
        DestroyWindow();
        return FALSE;
    }
    return TRUE;
}

BOOL CWnd::DestroyWindow()
{
    if (!m_bCreated)
        return FALSE;
    SendMessage(WM_DESTROY);
    for (CWnd* child : std::vector<CWnd*>(m_children))
        child->DestroyWindow();
    if (m_bTopLevel) {
        if (m_pMenu != nullptr)
            m_pMenu->SetOwnerWindow(nullptr);
        TheHost().WindowDestroyed(this);
    } else {
        Invalidate();
    }
    Unlink();
    Registry().Unregister(this);
    m_bCreated = false;
    m_bShown = false;
    return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT id, CWnd* parent)
{
    CWnd* control = parent ? parent->GetDlgItem(id) : nullptr;
    if (control == nullptr || m_bCreated)
        return FALSE;
    auto& siblings = parent->m_children;
    const auto place = std::find(siblings.begin(), siblings.end(), control);
    m_strText = control->m_strText;
    m_dwStyle = control->m_dwStyle;
    m_dwExStyle = control->m_dwExStyle;
    m_nID = control->m_nID;
    m_rect = control->m_rect;
    m_bShown = control->m_bShown;
    m_pParent = parent;
    m_bCreated = true;
    *place = this;
    Registry().Register(this);
    // The control that stood here is no longer a window.
    Registry().Unregister(control);
    control->m_bCreated = false;
    control->m_pParent = nullptr;
    auto& owned = parent->m_ownedPlaceholders;
    if (auto it = std::find(owned.begin(), owned.end(), control); it != owned.end()) {
        owned.erase(it);
        delete control;
    }
    Invalidate();
    return TRUE;
}

void CWnd::Unlink()
{
    if (m_pParent != nullptr) {
        auto& siblings = m_pParent->m_children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
        m_pParent = nullptr;
    }
}

void CWnd::InsertChild(CWnd* child, size_t position)
{
    child->m_pParent = this;
    m_children.insert(m_children.begin() + static_cast<std::ptrdiff_t>(std::min(position, m_children.size())),
                      child);
}

// ---- Tree ----------------------------------------------------------------------------------

CWnd* CWnd::GetTopLevel()
{
    CWnd* window = this;
    while (window->m_pParent != nullptr)
        window = window->m_pParent;
    return window;
}

CWnd* CWnd::GetDlgItem(UINT id) const
{
    for (CWnd* child : m_children)
        if (child->m_nID == id)
            return child;
    return nullptr;
}

CWnd* CWnd::ChildFromPoint(CPoint point)
{
    for (CWnd* child : m_children) {
        if (child->IsWindowVisible() && child->m_rect.PtInRect(point))
            return child->ChildFromPoint({point.x - child->m_rect.left, point.y - child->m_rect.top});
    }
    return this;
}

// ---- Geometry ------------------------------------------------------------------------------

FrameInsets CWnd::Insets() const
{
    if (!m_bTopLevel)
        return {};
    return TheHost().Insets(const_cast<CWnd*>(this), (m_dwStyle & WS_CAPTION) == WS_CAPTION,
                            m_pMenu != nullptr);
}

FrameInsets CWnd::InsetsFor(bool caption, bool menuBar) const
{
    return TheHost().Insets(const_cast<CWnd*>(this), caption, menuBar);
}

void CWnd::GetWindowRect(CRect* rect) const
{
    if (m_bTopLevel) {
        *rect = m_rect;
        return;
    }
    CPoint origin(m_rect.left, m_rect.top);
    if (m_pParent != nullptr)
        m_pParent->ClientToScreen(&origin);
    *rect = CRect(origin.x, origin.y, origin.x + m_rect.Width(), origin.y + m_rect.Height());
}

void CWnd::GetClientRect(CRect* rect) const
{
    if (!m_bTopLevel) {
        *rect = CRect(0, 0, m_rect.Width(), m_rect.Height());
        return;
    }
    const FrameInsets insets = Insets();
    *rect = CRect(0, 0, m_rect.Width() - insets.left - insets.right,
                  m_rect.Height() - insets.top - insets.bottom);
}

void CWnd::ClientToScreen(CPoint* point) const
{
    if (m_bTopLevel) {
        const FrameInsets insets = Insets();
        point->x += m_rect.left + insets.left;
        point->y += m_rect.top + insets.top;
        return;
    }
    point->x += m_rect.left;
    point->y += m_rect.top;
    if (m_pParent != nullptr)
        m_pParent->ClientToScreen(point);
}

void CWnd::ClientToScreen(CRect* rect) const
{
    CPoint origin(0, 0);
    ClientToScreen(&origin);
    rect->OffsetRect(origin.x, origin.y);
}

void CWnd::ScreenToClient(CPoint* point) const
{
    CPoint origin(0, 0);
    ClientToScreen(&origin);
    point->x -= origin.x;
    point->y -= origin.y;
}

CRect CWnd::RectInTopClient() const
{
    CRect rect;
    GetClientRect(&rect);
    for (const CWnd* window = this; !window->m_bTopLevel && window->m_pParent != nullptr;
         window = window->m_pParent)
        rect.OffsetRect(window->m_rect.left, window->m_rect.top);
    return rect;
}

BOOL CWnd::SetWindowPos(const CWnd* /*insertAfter*/, int x, int y, int cx, int cy, UINT flags)
{
    if (!m_bCreated)
        return FALSE;
    CRect rect = m_rect;
    if (!(flags & SWP_NOMOVE)) {
        rect = CRect(x, y, x + rect.Width(), y + rect.Height());
    }
    if (!(flags & SWP_NOSIZE)) {
        rect.right = rect.left + cx;
        rect.bottom = rect.top + cy;
    }
    if (m_bTopLevel) {
        m_rect = rect;
        TheHost().WindowGeometryChanged(this);
        return TRUE;
    }
    if (rect == m_rect)
        return TRUE;
    Invalidate();
    m_rect = rect;
    Invalidate();
    return TRUE;
}

BOOL CWnd::MoveWindow(int x, int y, int cx, int cy, BOOL)
{
    return SetWindowPos(nullptr, x, y, cx, cy, SWP_NOZORDER);
}

BOOL CWnd::IsIconic() const
{
    return m_bTopLevel && m_bCreated && TheHost().IsMinimized(const_cast<CWnd*>(this));
}

// ---- Styles and text -----------------------------------------------------------------------

BOOL CWnd::ModifyStyle(DWORD remove, DWORD add, UINT)
{
    const DWORD style = (m_dwStyle & ~remove) | add;
    if (style == m_dwStyle)
        return FALSE;
    m_dwStyle = style;
    if (m_bTopLevel && m_bCreated)
        TheHost().WindowStyleChanged(this);
    return TRUE;
}

BOOL CWnd::ModifyStyleEx(DWORD remove, DWORD add, UINT)
{
    const DWORD style = (m_dwExStyle & ~remove) | add;
    if (style == m_dwExStyle)
        return FALSE;
    m_dwExStyle = style;
    if (m_bTopLevel && m_bCreated)
        TheHost().WindowStyleChanged(this);
    return TRUE;
}

void CWnd::SetWindowText(const char* text)
{
    const std::string newText = text ? text : "";
    if (newText == m_strText)
        return;
    m_strText = newText;
    if (m_bTopLevel && m_bCreated)
        TheHost().WindowTextChanged(this);
    else
        Invalidate();
}

int CWnd::GetWindowText(char* buffer, int maxCount) const
{
    if (buffer == nullptr || maxCount <= 0)
        return 0;
    const int count = std::min<int>(maxCount - 1, static_cast<int>(m_strText.size()));
    std::memcpy(buffer, m_strText.data(), static_cast<size_t>(count));
    buffer[count] = '\0';
    return count;
}

BOOL CWnd::ShowWindow(int command)
{
    if (!m_bCreated)
        return FALSE;
    const bool wasVisible = (m_dwStyle & WS_VISIBLE) != 0;
    const bool show = command != 0;
    if (show == wasVisible && (!m_bTopLevel || m_bShown == show))
        return wasVisible;
    m_dwStyle = show ? (m_dwStyle | WS_VISIBLE) : (m_dwStyle & ~WS_VISIBLE);
    SendMessage(WM_SHOWWINDOW, show, 0);
    if (m_bTopLevel) {
        m_bShown = show;
        TheHost().WindowShown(this, show);
    } else if (m_pParent != nullptr) {
        CRect rect = RectInTopClient();
        TheHost().Invalidate(GetTopLevel(), rect);
    }
    return wasVisible;
}

BOOL CWnd::IsWindowVisible() const
{
    for (const CWnd* window = this; window != nullptr; window = window->m_pParent)
        if (!window->m_bCreated || !(window->m_dwStyle & WS_VISIBLE))
            return FALSE;
    return TRUE;
}

HICON CWnd::SetIcon(HICON icon, BOOL big)
{
    HICON& slot = big ? m_hIconBig : m_hIconSmall;
    HICON previous = slot;
    slot = icon;
    if (m_bTopLevel && m_bCreated)
        TheHost().WindowIconChanged(this);
    return previous;
}

// ---- Painting ------------------------------------------------------------------------------

void CWnd::Invalidate(BOOL erase) { InvalidateRect(nullptr, erase); }

void CWnd::InvalidateRect(const CRect* rect, BOOL)
{
    if (!m_bCreated)
        return;
    CRect area = RectInTopClient();
    if (rect != nullptr) {
        CRect part = *rect;
        part.OffsetRect(area.left, area.top);
        area = area.Intersect(part);
    }
    if (!area.IsRectEmpty())
        TheHost().Invalidate(GetTopLevel(), area);
}

// ---- Messages ------------------------------------------------------------------------------

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!m_bCreated)
        return 0;
    const MSG saved = m_currentMsg;
    m_currentMsg = {this, message, wParam, lParam};
    const LRESULT result = WindowProc(message, wParam, lParam);
    m_currentMsg = saved;
    return result;
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!m_bCreated)
        return FALSE;
    Registry().Post({this, message, wParam, lParam});
    return TRUE;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        return OnCreate();
    case WM_COMMAND:
        return OnCommand(wParam, lParam) ? TRUE : Default();
    case WM_PAINT:
        OnPaint();
        return 0;
    case WM_SHOWWINDOW:
        OnShowWindow(static_cast<BOOL>(wParam), static_cast<UINT>(lParam));
        return 0;
    case WM_SETCURSOR:
        return OnSetCursor(reinterpret_cast<CWnd*>(wParam), LOWORD(static_cast<WPARAM>(lParam)),
                           HIWORD(static_cast<WPARAM>(lParam)));
    case WM_LBUTTONDOWN:
        OnLButtonDown(static_cast<UINT>(wParam), PointFromLParam(lParam));
        return 0;
    case WM_LBUTTONUP:
        OnLButtonUp(static_cast<UINT>(wParam), PointFromLParam(lParam));
        return 0;
    case WM_LBUTTONDBLCLK:
        OnLButtonDblClk(static_cast<UINT>(wParam), PointFromLParam(lParam));
        return 0;
    case WM_MOUSEMOVE:
        OnMouseMove(static_cast<UINT>(wParam), PointFromLParam(lParam));
        return 0;
    case WM_TIMER:
        OnTimer(static_cast<UINT>(wParam));
        return 0;
    case WM_CLOSE:
        OnClose();
        return 0;
    case WM_QUERYDRAGICON:
        return reinterpret_cast<LRESULT>(OnQueryDragIcon());
    case WM_ACTIVATE:
        OnActivate(LOWORD(wParam), reinterpret_cast<CWnd*>(lParam), HIWORD(wParam));
        return 0;
    case WM_INITMENUPOPUP:
        OnInitMenuPopup(reinterpret_cast<CMenu*>(wParam), LOWORD(static_cast<WPARAM>(lParam)),
                        HIWORD(static_cast<WPARAM>(lParam)));
        return 0;
    case WM_KILLFOCUS:
        OnKillFocus(reinterpret_cast<CWnd*>(wParam));
        return 0;
    case WM_SYSKEYDOWN:
        OnSysKeyDown(static_cast<UINT>(wParam), LOWORD(static_cast<WPARAM>(lParam)),
                     HIWORD(static_cast<WPARAM>(lParam)));
        return 0;
    default:
        return DefWindowProc(message, wParam, lParam);
    }
}

BOOL CWnd::PreTranslateMessage(MSG*) { return FALSE; }

LRESULT CWnd::DefWindowProc(UINT message, WPARAM, LPARAM)
{
    if (message == WM_CLOSE)
        DestroyWindow();
    return 0;
}

LRESULT CWnd::Default()
{
    return DefWindowProc(m_currentMsg.message, m_currentMsg.wParam, m_currentMsg.lParam);
}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM) { return OnCmdMsg(LOWORD(wParam), HIWORD(wParam)); }
BOOL CWnd::OnCmdMsg(UINT, int) { return FALSE; }
int CWnd::OnCreate() { return static_cast<int>(Default()); }
void CWnd::OnPaint() { Default(); }
void CWnd::OnShowWindow(BOOL, UINT) { Default(); }
BOOL CWnd::OnSetCursor(CWnd*, UINT, UINT) { return static_cast<BOOL>(Default()); }
void CWnd::OnLButtonDown(UINT, CPoint) { Default(); }
void CWnd::OnLButtonUp(UINT, CPoint) { Default(); }
void CWnd::OnLButtonDblClk(UINT, CPoint) { Default(); }
void CWnd::OnMouseMove(UINT, CPoint) { Default(); }
void CWnd::OnTimer(UINT) { Default(); }
void CWnd::OnClose() { Default(); }
HICON CWnd::OnQueryDragIcon() { return nullptr; }
void CWnd::OnActivate(UINT, CWnd*, BOOL) { Default(); }
void CWnd::OnInitMenuPopup(CMenu*, UINT, BOOL) { Default(); }
void CWnd::OnKillFocus(CWnd*) { Default(); }
void CWnd::OnSysKeyDown(UINT, UINT, UINT) { Default(); }

// ---- Capture, focus, timers ----------------------------------------------------------------

// The host hears when a top-level window's tree gains the capture or loses it to another.
static void MoveCapture(CWnd* window)
{
    CWnd* previous = Registry().Capture();
    Registry().SetCapture(window);
    if (previous != nullptr && Registry().IsLive(previous) &&
        (window == nullptr || previous->GetTopLevel() != window->GetTopLevel()))
        TheHost().CaptureChanged(previous->GetTopLevel(), false);
    if (window != nullptr)
        TheHost().CaptureChanged(window->GetTopLevel(), true);
}

CWnd* CWnd::SetCapture()
{
    CWnd* previous = Registry().Capture();
    MoveCapture(this);
    return previous;
}

CWnd* CWnd::GetCapture() { return Registry().Capture(); }

BOOL CWnd::ReleaseCapture()
{
    MoveCapture(nullptr);
    return TRUE;
}

CWnd* CWnd::SetFocus()
{
    CWnd* previous = Registry().Focus();
    Registry().SetFocus(this);
    return previous;
}

CWnd* CWnd::GetFocus() { return Registry().Focus(); }

UINT CWnd::SetTimer(UINT id, UINT elapse, void*)
{
    if (!m_bCreated)
        return 0;
    TheHost().StartTimer(this, id, elapse);
    return id == 0 ? 1 : id;
}

BOOL CWnd::KillTimer(UINT id)
{
    if (!m_bCreated)
        return FALSE;
    TheHost().StopTimer(this, id);
    return TRUE;
}

// ---- Menu bar ------------------------------------------------------------------------------

BOOL CWnd::SetMenu(CMenu* menu)
{
    if (!m_bTopLevel || !m_bCreated)
        return FALSE;
    if (m_pMenu != nullptr)
        m_pMenu->SetOwnerWindow(nullptr);
    m_pMenu = menu;
    if (menu != nullptr)
        menu->SetOwnerWindow(this);
    TheHost().MenuBarChanged(this);
    return TRUE;
}

void CWnd::DrawMenuBar()
{
    if (m_bTopLevel && m_bCreated)
        TheHost().MenuBarChanged(this);
}

// ---- Cursors and message boxes -------------------------------------------------------------

HCURSOR LoadCursorA(HINSTANCE, const char* name)
{
    return IS_INTRESOURCE(name) ? static_cast<HCURSOR>(reinterpret_cast<std::uintptr_t>(name)) : 0;
}

HCURSOR SetCursor(HCURSOR cursor)
{
    const HCURSOR previous = g_currentCursor;
    g_currentCursor = cursor;
    TheHost().SetCursor(cursor);
    return previous;
}

HCURSOR CurrentCursor() { return g_currentCursor; }

int MessageBoxA(CWnd* owner, const char* text, const char* caption, UINT type)
{
    return TheHost().MessageBox(owner, text ? text : "", caption ? caption : "", type);
}

CRect GetWorkArea() { return TheHost().WorkArea(); }
