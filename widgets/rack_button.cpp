#include "widgets/rack_button.h"

CRackButton::~CRackButton()
{
    // The images go in the reverse order of their declaration.
    m_imgOffDown.Release();
    m_imgOffUp.Release();
    m_imgOnDown.Release();
    m_imgOnUp.Release();
}

void CRackButton::Place(int x, int y, UINT id, CWnd* parent, const char* onUp, const char* onDown,
                        const char* offUp, const char* offDown, int value)
{
    struct Slot {
        const char* name;
        CDib& image;
        BOOL& present;
    };
    const Slot slots[] = {{onUp, m_imgOnUp, m_bHasOnUp},
                          {onDown, m_imgOnDown, m_bHasOnDown},
                          {offUp, m_imgOffUp, m_bHasOffUp},
                          {offDown, m_imgOffDown, m_bHasOffDown}};
    for (const Slot& slot : slots)
        slot.present = FALSE;
    // The flag records that a name was given, whether or not its image loaded.
    for (const Slot& slot : slots) {
        if (slot.name != nullptr) {
            slot.image.LoadFromResource(AfxGetResourceHandle(), slot.name);
            slot.present = TRUE;
        }
    }
    m_bOn = value;
    SubclassDlgItem(id, parent);
    SetWindowPos(nullptr, x, y, m_imgOnUp.m_info.bmWidth, m_imgOnUp.m_info.bmHeight, SWP_NOZORDER);
}

void CRackButton::Describe(const char* label, AccessibleRole role, bool lampShowsChoice, const char* choice)
{
    m_strLabel = label != nullptr ? label : "";
    m_strChoice = choice;
    m_accessibleRole = role;
    m_bLampShowsChoice = lampShowsChoice;
}

std::string CRackButton::GetAccessibleName() const { return m_strLabel.empty() ? WindowText() : m_strLabel; }

AccessibleState CRackButton::GetAccessibleState() const
{
    // Pressed as it is drawn: pushed under the pointer while it holds the focus.
    const bool pressed = (GetState() & (BST_PUSHED | BST_FOCUS)) == (BST_PUSHED | BST_FOCUS);
    return {.pressed = pressed, .checkable = m_bLampShowsChoice, .checked = m_bLampShowsChoice && m_bOn != 0};
}

void CRackButton::OnMouseButton(UINT, CPoint)
{
    // The state is read before the button's own processing, so an ordinary click toggles at
    // the release, while the button is still pushed, and the panel's click handler already
    // sees the new value.
    if (SendMessage(BM_GETSTATE) & BST_PUSHED)
        m_bOn = m_bOn == 0 ? 1 : 0;
    Default();
}

CDib* CRackButton::ImageToDraw(bool pressed)
{
    if (pressed) {
        if (m_bOn)
            return m_bHasOnDown ? &m_imgOnDown : &m_imgOnUp;
        if (m_bHasOffDown)
            return &m_imgOffDown;
        if (m_bHasOffUp)
            return &m_imgOffUp;
        return m_bHasOnDown ? &m_imgOnDown : nullptr;
    }
    if (m_bOn)
        return &m_imgOnUp;
    return m_bHasOffUp ? &m_imgOffUp : &m_imgOnUp;
}

void CRackButton::DrawItem(LPDRAWITEMSTRUCT drawItem)
{
    const UINT state = static_cast<UINT>(SendMessage(BM_GETSTATE));
    const bool pressed = (state & (BST_PUSHED | BST_FOCUS)) == (BST_PUSHED | BST_FOCUS);
    if (CDib* image = ImageToDraw(pressed))
        image->Draw(drawItem->hDC, nullptr, nullptr, FALSE, nullptr, FALSE);
}
