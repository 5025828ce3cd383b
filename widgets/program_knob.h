#pragma once
// The program knob: a small dot that travels on a circle over the knob face painted on the
// rack. Its place stands for one of 129 positions, the programs; dragging it selects them.

#include "platform/wnd.h"
#include "widgets/dib.h"

class CProgramKnob : public CWnd {
public:
    CProgramKnob();
    ~CProgramKnob() override = default;

    void SetGeometry(int centreX, int centreY, int radius, int position);
    void SetPosition(int position);
    // Moves the dot to `position` and tells no one: the choice was made and played elsewhere.
    void ShowPosition(int position);

    // The angle of a position, and the top-left corner of the dot for an angle.
    static double AngleOfPosition(int position);
    CPoint PlaceForAngle(double angle) const;
    // The position a direction from the centre stands for, or -1 for no direction.
    static int PositionOfDirection(double dx, double dy, double* angle = nullptr);

    // A screen reader knows the knob as a dial whose value is the program it stands at, and
    // turns it by setting the value.
    AccessibleRole GetAccessibleRole() const override { return AccessibleRole::Dial; }
    AccessibleValue GetAccessibleValue() const override;
    void SetAccessibleValue(int value) override;

    CPoint m_ptCentre;
    int m_nRadius = 0;
    int m_nPosition = 0;
    BOOL m_bPressed = FALSE;
    CPoint m_ptGrab;

    static CDib s_dibKnobUp;
    static CDib s_dibKnobDown;

protected:
    void OnPaint() override;
    void OnShowWindow(BOOL show, UINT status) override;
    void OnLButtonDown(UINT flags, CPoint point) override;
    void OnLButtonUp(UINT flags, CPoint point) override;
    BOOL OnSetCursor(CWnd* window, UINT hitTest, UINT message) override;
    void OnMouseMove(UINT flags, CPoint point) override;

private:
    // True when the window's screen rectangle already starts at `place`.
    bool StandsAt(CPoint place) const;
    // Moves the dot to `position`, drawn at `angle`, and selects that program at once.
    void TurnTo(int position, double angle);
};
