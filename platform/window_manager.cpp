#include "platform/window_manager.h"

#include "platform/host.h"

#include <QPainter>

#include <cstdlib>

namespace {
constexpr UINT HTCLIENT = 1;
WindowRegistry& Registry() { return WindowRegistry::Instance(); }
} // namespace

WindowManager& WindowManager::Instance()
{
    static WindowManager manager;
    return manager;
}

// ---- Mouse ---------------------------------------------------------------------------------

UINT WindowManager::MessageForPress(CWnd* target, const MouseInput& input)
{
    // A second left press on the same window, soon and near enough, is a double-click where
    // the window's class takes double-clicks; the press after a double-click starts over.
    const std::int64_t distance = TheHost().DoubleClickDistance();
    const bool near = std::llabs(input.point.x - m_lastPressPoint.x) <= distance &&
                      std::llabs(input.point.y - m_lastPressPoint.y) <= distance;
    const bool soon =
        input.timeMs - m_lastPressTime <= static_cast<std::uint64_t>(TheHost().DoubleClickTime());
    const bool doubleClick = (target->GetClassStyle() & CS_DBLCLKS) != 0 &&
                             target == Registry().LastPress() && !m_lastWasDoubleClick && near && soon;
    Registry().SetLastPress(target);
    m_lastPressPoint = input.point;
    m_lastPressTime = input.timeMs;
    m_lastWasDoubleClick = doubleClick;
    return doubleClick ? WM_LBUTTONDBLCLK : WM_LBUTTONDOWN;
}

void WindowManager::Mouse(CWnd* top, const MouseInput& input)
{
    if (!IsLive(top))
        return;
    CWnd* const capture = Registry().Capture();
    CWnd* target = capture != nullptr ? capture : top->ChildFromPoint(input.point);
    CPoint point = input.point;
    top->ClientToScreen(&point);
    target->ScreenToClient(&point);

    UINT message = WM_MOUSEMOVE;
    if (input.action == MouseAction::Press) {
        if (input.button == MK_LBUTTON)
            message = MessageForPress(target, input);
        else
            message = input.button == MK_RBUTTON ? WM_RBUTTONDOWN : WM_MBUTTONDOWN;
    } else if (input.action == MouseAction::Release) {
        message = input.button == MK_LBUTTON   ? WM_LBUTTONUP
                  : input.button == MK_RBUTTON ? WM_RBUTTONUP
                                               : WM_MBUTTONUP;
    }
    const UINT flags = input.buttons | (input.shift ? MK_SHIFT : 0) | (input.control ? MK_CONTROL : 0);

    // The window under the pointer chooses the cursor, unless one has captured the mouse:
    // then the cursor it set stays.
    if (capture == nullptr) {
        const LPARAM hit = static_cast<LPARAM>(HTCLIENT | (message << 16));
        if (!target->SendMessage(WM_SETCURSOR, reinterpret_cast<WPARAM>(target), hit) && IsLive(target))
            ::SetCursor(0);
    }
    if (IsLive(target))
        target->SendMessage(message, flags, MAKELPARAM_POINT(point));
    ProcessPosted();
}

void WindowManager::PressLeftOn(CWnd* window)
{
    if (IsLive(window))
        LeftAtCentre(window, WM_LBUTTONDOWN, MK_LBUTTON);
}

void WindowManager::ReleaseLeftFrom(CWnd* window)
{
    CWnd* const capture = Registry().Capture();
    CWnd* const target = capture != nullptr ? capture : window;
    if (IsLive(target))
        LeftAtCentre(target, WM_LBUTTONUP, 0);
}

void WindowManager::LeftAtCentre(CWnd* window, UINT message, UINT flags)
{
    CRect client;
    window->GetClientRect(&client);
    window->SendMessage(message, flags, MAKELPARAM_POINT({client.Width() / 2, client.Height() / 2}));
    ProcessPosted();
}

// ---- Keyboard ------------------------------------------------------------------------------

bool WindowManager::Key(CWnd* top, const KeyInput& input)
{
    if (!IsLive(top))
        return false;
    LPARAM lParam =
        (input.repeatCount & 0xFFFF) | ((input.scanCode & 0xFF) << 16) | (input.extended ? 1 << 24 : 0);
    if (!input.down)
        lParam |= static_cast<LPARAM>(0xC0000000u);
    else if (input.previouslyDown)
        lParam |= 1 << 30;
    // A system key bypasses PreTranslateMessage and goes to the window that has the menu bar;
    // the program's answer leaves it unconsumed.
    if (input.system) {
        top->SendMessage(input.down ? WM_SYSKEYDOWN : WM_SYSKEYUP, input.virtualKey, lParam);
        ProcessPosted();
        return false;
    }
    CWnd* const focus = Registry().Focus();
    CWnd* target = (focus != nullptr && focus->GetTopLevel() == top) ? focus : top;
    MSG msg{target, input.down ? WM_KEYDOWN : WM_KEYUP, 0, lParam};
    bool consumed = false;
    for (CWnd* window = target; window != nullptr && !consumed; window = window->GetParent())
        consumed = window->PreTranslateMessage(&msg);
    if (!consumed && IsLive(target))
        target->SendMessage(msg.message, msg.wParam, msg.lParam);
    ProcessPosted();
    return consumed;
}

// ---- Other native events -------------------------------------------------------------------

void WindowManager::Timer(CWnd* window, UINT id)
{
    if (!IsLive(window))
        return;
    window->SendMessage(WM_TIMER, id, 0);
    ProcessPosted();
}

void WindowManager::CloseRequested(CWnd* top)
{
    if (!IsLive(top))
        return;
    top->SendMessage(WM_CLOSE);
    ProcessPosted();
}

void WindowManager::MenuCommand(CWnd* top, UINT id)
{
    if (!IsLive(top))
        return;
    Registry().Post({top, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), 0), 0});
    ProcessPosted();
}

void WindowManager::MenuPopupOpening(CWnd* top, CMenu* popup, UINT index)
{
    if (!IsLive(top))
        return;
    top->SendMessage(WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(popup), MAKELPARAM(index, FALSE));
    ProcessPosted();
}

void WindowManager::Activated(CWnd* top, bool active)
{
    if (!IsLive(top))
        return;
    top->SendMessage(WM_ACTIVATE, active ? 1 : 0, 0);
    ProcessPosted();
}

void WindowManager::KeyboardLost(CWnd* top)
{
    if (!IsLive(top))
        return;
    top->SendMessage(WM_KILLFOCUS, 0, 0);
    ProcessPosted();
}

void WindowManager::NativeMoved(CWnd* top, const CRect& outer)
{
    if (IsLive(top))
        top->m_rect = outer;
}

void WindowManager::ProcessPosted()
{
    while (const std::optional<MSG> msg = Registry().TakePosted()) {
        if (IsLive(msg->hwnd))
            msg->hwnd->SendMessage(msg->message, msg->wParam, msg->lParam);
    }
}

// ---- Painting ------------------------------------------------------------------------------

void WindowManager::Paint(CWnd* top, CDC& dc, const CRect& dirty)
{
    if (!IsLive(top))
        return;
    PaintWindow(top, dc, dirty, {0, 0});
}

void WindowManager::PaintWindow(CWnd* window, CDC& dc, const CRect& clip, CPoint origin)
{
    CRect client;
    window->GetClientRect(&client);
    client.OffsetRect(origin.x, origin.y);
    const CRect area = client.Intersect(clip);
    if (area.IsRectEmpty())
        return;
    QPainter& painter = *dc.Painter();
    painter.save();
    painter.resetTransform();
    painter.setClipRect(QRect(area.left, area.top, area.Width(), area.Height()));
    painter.translate(origin.x, origin.y);
    CDC windowDC(&painter);
    window->m_pPaintDC = &windowDC;
    window->SendMessage(WM_PAINT);
    if (IsLive(window))
        window->m_pPaintDC = nullptr;
    painter.restore();
    if (!IsLive(window))
        return;
    // Children paint over their parent, the bottom one first.
    const auto children = window->Children();
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
        CWnd* child = *it;
        if (IsLive(child) && (child->GetStyle() & WS_VISIBLE))
            PaintWindow(child, dc, area,
                        {origin.x + child->RectInParent().left, origin.y + child->RectInParent().top});
    }
}
