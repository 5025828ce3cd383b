#include "widgets/program_knob.h"

#include "res/resource_ids.h"

#include <algorithm>
#include <cmath>

namespace {
// One full turn, and the 129 positions it holds.
constexpr double kFullTurn = 6.28318;
constexpr double kOneOverPositions = 0.007751937984496124; // 1 / 129
constexpr double kOneOverFullTurn = 0.15915507752443828;   // 1 / 6.28318
constexpr int kPositions = 129;
} // namespace

CDib CProgramKnob::s_dibKnobUp;
CDib CProgramKnob::s_dibKnobDown;

CProgramKnob::CProgramKnob()
{
    s_dibKnobUp.LoadFromResource(AfxGetResourceHandle(), "VOLUME_U");
    s_dibKnobDown.LoadFromResource(AfxGetResourceHandle(), "VOLUME_D");
}

double CProgramKnob::AngleOfPosition(int position) { return (position * kFullTurn) * kOneOverPositions; }

// Angle 0 is straight below the centre and angles grow counter-clockwise on the screen.
CPoint CProgramKnob::PlaceForAngle(double angle) const
{
    const double x = (m_nRadius * std::sin(angle)) + m_ptCentre.x;
    const double y = (m_nRadius * std::cos(angle)) + m_ptCentre.y;
    return {static_cast<LONG>(std::trunc(x + 0.5)), static_cast<LONG>(std::trunc(y + 0.5))};
}

int CProgramKnob::PositionOfDirection(double dx, double dy, double* angle)
{
    if (dx == 0 && dy == 0)
        return -1;
    const double length = std::pow(dx * dx + dy * dy, 0.5);
    double phi = std::acos(dy / length);
    if (dx < 0)
        phi = kFullTurn - phi;
    if (angle != nullptr)
        *angle = phi;
    return static_cast<int>(std::trunc((phi * kOneOverFullTurn) * kPositions));
}

AccessibleValue CProgramKnob::GetAccessibleValue() const
{
    return {.current = m_nPosition, .minimum = 0, .maximum = kPositions - 1};
}

bool CProgramKnob::StandsAt(CPoint place) const
{
    // The window's screen rectangle is compared with a place in the panel's client area; the
    // two agree only when the client area starts at the screen's origin.
    CRect rect;
    GetWindowRect(&rect);
    return rect.left == place.x && rect.top == place.y;
}

void CProgramKnob::SetGeometry(int centreX, int centreY, int radius, int position)
{
    m_ptCentre = {centreX, centreY};
    m_nRadius = radius;
    ShowPosition(position);
}

void CProgramKnob::SetPosition(int position)
{
    m_nPosition = position;
    const CPoint place = PlaceForAngle(AngleOfPosition(position));
    if (StandsAt(place))
        return;
    SetWindowPos(nullptr, place.x, place.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    GetParent()->PostMessage(WM_COMMAND, ID_PROGRAM_FIRST + position, 0);
}

void CProgramKnob::ShowPosition(int position)
{
    m_nPosition = position;
    const CPoint place = PlaceForAngle(AngleOfPosition(position));
    SetWindowPos(nullptr, place.x, place.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

void CProgramKnob::OnLButtonDown(UINT, CPoint point)
{
    m_ptGrab = {-point.x, -point.y};
    SetCapture();
    ::SetCursor(LoadCursorA(AfxGetResourceHandle(), MAKEINTRESOURCE(IDC_HAND_PRESS)));
    m_bPressed = TRUE;
    Invalidate(TRUE);
}

void CProgramKnob::OnMouseMove(UINT flags, CPoint point)
{
    if (!(flags & MK_LBUTTON))
        return;
    const double oldAngle = AngleOfPosition(m_nPosition);
    // Where the dot's corner would be, from the centre, if it followed the pointer at the
    // offset at which it was grabbed.
    const double dx = point.x + m_ptGrab.x + m_nRadius * std::sin(oldAngle);
    const double dy = point.y + m_ptGrab.y + m_nRadius * std::cos(oldAngle);
    double angle = 0;
    const int position = PositionOfDirection(dx, dy, &angle);
    if (position < 0 || position == m_nPosition)
        return;
    // During a drag the dot follows the pointer's direction exactly.
    TurnTo(position, angle);
}

void CProgramKnob::SetAccessibleValue(int value)
{
    // A screen reader turns the knob as a drag to that position's own place would.
    const int position = std::clamp(value, 0, kPositions - 1);
    if (position != m_nPosition)
        TurnTo(position, AngleOfPosition(position));
}

void CProgramKnob::TurnTo(int position, double angle)
{
    m_nPosition = position;
    const CPoint place = PlaceForAngle(angle);
    if (StandsAt(place))
        return;
    SetWindowPos(nullptr, place.x, place.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    GetParent()->SendMessage(WM_COMMAND, ID_PROGRAM_FIRST + position, 0);
}

void CProgramKnob::OnLButtonUp(UINT, CPoint)
{
    ::SetCursor(LoadCursorA(AfxGetResourceHandle(), MAKEINTRESOURCE(IDC_HAND_OPEN)));
    ReleaseCapture();
    m_bPressed = FALSE;
    Invalidate(TRUE);
    Default();
}

BOOL CProgramKnob::OnSetCursor(CWnd*, UINT, UINT)
{
    ::SetCursor(
        LoadCursorA(AfxGetResourceHandle(), MAKEINTRESOURCE(m_bPressed ? IDC_HAND_PRESS : IDC_HAND_OPEN)));
    return TRUE;
}

void CProgramKnob::OnPaint()
{
    CPaintDC dc(this);
    CDib& image = m_bPressed ? s_dibKnobDown : s_dibKnobUp;
    image.Draw(dc, nullptr, nullptr, TRUE, nullptr, FALSE);
}

void CProgramKnob::OnShowWindow(BOOL show, UINT status)
{
    Default();
    m_bPressed = FALSE;
    SetWindowPos(nullptr, 0, 0, s_dibKnobUp.m_info.bmWidth, s_dibKnobUp.m_info.bmHeight,
                 SWP_NOMOVE | SWP_NOZORDER);
}
