#include "widgets/led_display.h"

namespace {
constexpr COLORREF kLedGreen = RGB(0, 255, 0);
}

void CLedDisplay::Place(int x, int y, UINT id, CWnd* parent, const char* name)
{
    SubclassDlgItem(id, parent);
    m_image.LoadFromResource(AfxGetResourceHandle(), name);
    SetWindowPos(nullptr, x, y, m_image.m_info.bmWidth, m_image.m_info.bmHeight, SWP_NOZORDER);
}

void CLedDisplay::DrawItem(LPDRAWITEMSTRUCT drawItem)
{
    HDC dc = drawItem->hDC;
    m_image.Draw(dc, nullptr, nullptr, TRUE, nullptr, FALSE);
    const std::string text = WindowText();
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, kLedGreen);
    // No alignment and no wrapping: a line longer than the control is cut at its edge.
    TextOutA(dc, 0, 0, text.c_str(), static_cast<int>(text.size()));
}
