#pragma once
// The owner-drawn push button: pushed and focus state bits, capture while held, the click
// notification on a release over it and the double-click notification on a quick second press.

#include "platform/wnd.h"

class CButton : public CWnd {
public:
    UINT GetState() const;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnPaint() override;
    virtual void DrawItem(LPDRAWITEMSTRUCT drawItem);

private:
    void SetPushed(bool pushed);
    void Notify(WORD code);
    bool IsOver(CPoint point) const;

    bool m_bPushed = false;
};
