#include "platform/dialog.h"

#include "platform/button.h"
#include "platform/host.h"
#include "platform/win_app.h"

#include <typeinfo>

CDialog::CDialog(const DialogTemplate& resource, CWnd* parent) : m_resource(resource), m_pParentWnd(parent) {}

CDialog::~CDialog() { DestroyWindow(); }

bool CDialog::IsPlainDialog() const
{
    // A dialog with no class of its own has nothing to draw or handle itself, so the desktop
    // shows it as one of its own dialogs.
    return typeid(*this) == typeid(CDialog);
}

int CDialog::DoModal()
{
    CWnd* owner = m_pParentWnd != nullptr ? m_pParentWnd : AfxGetMainWnd();
    if (IsPlainDialog())
        return TheHost().RunTemplateDialog(m_resource, owner);
    if (!Create())
        return -1;
    if (!m_bEnded)
        TheHost().RunModalLoop(this);
    const int result = m_nModalResult;
    DestroyWindow();
    return result;
}

BOOL CDialog::Create()
{
    const DialogBaseUnits units;
    const CRect outer(units.X(m_resource.x), units.Y(m_resource.y), units.X(m_resource.x + m_resource.cx),
                      units.Y(m_resource.y + m_resource.cy));
    CWnd* owner = m_pParentWnd != nullptr ? m_pParentWnd : AfxGetMainWnd();
    if (!CreateTopLevel(m_resource.caption, m_resource.style, m_resource.exStyle, outer, owner))
        return FALSE;
    for (const DialogControl& control : m_resource.controls) {
        // The controls of this layer's own dialogs are owner-drawn buttons until the dialog
        // takes them over.
        auto* button = new CButton;
        OwnChild(button);
        const CRect rect(units.X(control.x), units.Y(control.y), units.X(control.x + control.cx),
                         units.Y(control.y + control.cy));
        button->Create("BUTTON", control.text, control.style, rect, this, control.id);
    }
    m_bEnded = false;
    m_nModalResult = -1;
    SendMessage(WM_INITDIALOG);
    if ((m_resource.style & WS_VISIBLE) && !m_bEnded && IsWindow())
        ShowWindow(1);
    return TRUE;
}

void CDialog::EndDialog(int result)
{
    m_nModalResult = result;
    m_bEnded = true;
    TheHost().EndModalLoop(this);
}

BOOL CDialog::OnInitDialog() { return TRUE; }

LRESULT CDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG)
        return OnInitDialog();
    return CWnd::WindowProc(message, wParam, lParam);
}

LRESULT CDialog::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    // A close request in a dialog is its Cancel command.
    if (message == WM_CLOSE) {
        SendMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
        return 0;
    }
    return CWnd::DefWindowProc(message, wParam, lParam);
}

BOOL CDialog::OnCmdMsg(UINT id, int code)
{
    if (code != BN_CLICKED)
        return FALSE;
    if (id == IDOK) {
        OnOK();
        return TRUE;
    }
    if (id == IDCANCEL) {
        OnCancel();
        return TRUE;
    }
    return FALSE;
}

void CDialog::OnOK() { EndDialog(IDOK); }
void CDialog::OnCancel() { EndDialog(IDCANCEL); }
