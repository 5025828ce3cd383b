#pragma once
// A bitmap push button of the rack: up to four images chosen by its on/off value and by
// whether it is being pressed. A completed click flips the value; the panel may also set it.

#include "platform/button.h"
#include "widgets/dib.h"

class CRackButton : public CButton {
public:
    CRackButton() = default;
    ~CRackButton() override;

    // Loads the images given (null for none), sets the value, takes over control `id` of
    // `parent` and sizes it to the on-up image at (x, y).
    void Place(int x, int y, UINT id, CWnd* parent, const char* onUp, const char* onDown, const char* offUp,
               const char* offDown, int value);
    // How a screen reader knows the button: by `label` (its window text when null) and `role`;
    // a lamp that shows a choice reads as checked while lit, and `choice` says what it chooses.
    void Describe(const char* label, AccessibleRole role, bool lampShowsChoice, const char* choice = "");

    AccessibleRole GetAccessibleRole() const override { return m_accessibleRole; }
    std::string GetAccessibleName() const override;
    std::string GetAccessibleDescription() const override { return m_strChoice; }
    AccessibleState GetAccessibleState() const override;

    CDib m_imgOnUp;
    CDib m_imgOnDown;
    CDib m_imgOffUp;
    CDib m_imgOffDown;
    BOOL m_bHasOnUp = FALSE;
    BOOL m_bHasOnDown = FALSE;
    BOOL m_bHasOffUp = FALSE;
    BOOL m_bHasOffDown = FALSE;
    int m_bOn = 0;
    std::string m_strLabel;
    std::string m_strChoice;
    AccessibleRole m_accessibleRole = AccessibleRole::Button;
    bool m_bLampShowsChoice = false;

protected:
    void DrawItem(LPDRAWITEMSTRUCT drawItem) override;
    void OnLButtonDown(UINT flags, CPoint point) override { OnMouseButton(flags, point); }
    void OnLButtonUp(UINT flags, CPoint point) override { OnMouseButton(flags, point); }
    void OnLButtonDblClk(UINT flags, CPoint point) override { OnMouseButton(flags, point); }
    void OnMouseButton(UINT flags, CPoint point);

private:
    CDib* ImageToDraw(bool pressed);
};
