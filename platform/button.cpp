#include "platform/button.h"

UINT CButton::GetState() const { return (m_bPushed ? BST_PUSHED : 0) | (GetFocus() == this ? BST_FOCUS : 0); }

LRESULT CButton::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == BM_GETSTATE)
        return GetState();
    return CWnd::WindowProc(message, wParam, lParam);
}

bool CButton::IsOver(CPoint point) const
{
    CRect client;
    GetClientRect(&client);
    return client.PtInRect(point);
}

void CButton::SetPushed(bool pushed)
{
    if (m_bPushed == pushed)
        return;
    m_bPushed = pushed;
    Invalidate(FALSE);
}

void CButton::Notify(WORD code)
{
    if (CWnd* parent = GetParent())
        parent->SendMessage(WM_COMMAND, MAKEWPARAM(static_cast<WORD>(GetDlgCtrlID()), code),
                            reinterpret_cast<LPARAM>(this));
}

// What the desktop's button does with the mouse.
LRESULT CButton::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    const CPoint point = PointFromLParam(lParam);
    switch (message) {
    case WM_LBUTTONDOWN:
        if (GetFocus() != this) {
            SetFocus();
            Invalidate(FALSE);
        }
        SetCapture();
        SetPushed(true);
        return 0;
    case WM_LBUTTONDBLCLK:
        Notify(BN_DOUBLECLICKED);
        return 0;
    case WM_MOUSEMOVE:
        if (GetCapture() == this && (wParam & MK_LBUTTON))
            SetPushed(IsOver(point));
        return 0;
    case WM_LBUTTONUP: {
        const bool click = m_bPushed && GetCapture() == this && IsOver(point);
        SetPushed(false);
        if (GetCapture() == this)
            ReleaseCapture();
        if (click)
            Notify(BN_CLICKED);
        return 0;
    }
    default:
        return CWnd::DefWindowProc(message, wParam, lParam);
    }
}

void CButton::OnPaint()
{
    CPaintDC dc(this);
    DRAWITEMSTRUCT drawItem{};
    drawItem.CtlID = GetDlgCtrlID();
    drawItem.itemState = (m_bPushed ? ODS_SELECTED : 0) | (GetFocus() == this ? ODS_FOCUS : 0);
    drawItem.hwndItem = this;
    drawItem.hDC = dc;
    GetClientRect(&drawItem.rcItem);
    if (drawItem.hDC != nullptr)
        DrawItem(&drawItem);
}

void CButton::DrawItem(LPDRAWITEMSTRUCT) {}
