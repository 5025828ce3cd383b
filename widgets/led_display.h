#pragma once
// The green LED text line: its image with the window text written over it.

#include "platform/button.h"
#include "widgets/dib.h"

class CLedDisplay : public CButton {
public:
    CLedDisplay() = default;
    ~CLedDisplay() override = default;

    // Takes over control `id` of `parent`, loads image `name` and sizes the control to it.
    void Place(int x, int y, UINT id, CWnd* parent, const char* name);

    // A screen reader reads the line as a label whose name is the text it shows.
    AccessibleRole GetAccessibleRole() const override { return AccessibleRole::Label; }

    CDib m_image;

protected:
    void DrawItem(LPDRAWITEMSTRUCT drawItem) override;
};
