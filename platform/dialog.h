#pragma once
// Dialogs built from templates. A dialog class of the program's own is one of our windows with
// its controls as children; a plain dialog is shown by the host as a desktop dialog.

#include "platform/dialog_template.h"
#include "platform/wnd.h"

class CDialog : public CWnd {
public:
    explicit CDialog(const DialogTemplate& resource, CWnd* parent = nullptr);
    ~CDialog() override;

    // Runs the dialog until it ends; returns the result given to EndDialog.
    virtual int DoModal();
    // Builds the window and its controls and runs the set-up, without a modal run.
    BOOL Create();
    void EndDialog(int result);
    int ModalResult() const { return m_nModalResult; }
    bool HasEnded() const { return m_bEnded; }
    const DialogTemplate& Resource() const { return m_resource; }

    virtual BOOL OnInitDialog();

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    BOOL OnCmdMsg(UINT id, int code) override;
    virtual void OnOK();
    virtual void OnCancel();

private:
    bool IsPlainDialog() const;

    const DialogTemplate& m_resource;
    CWnd* m_pParentWnd;
    int m_nModalResult = -1;
    bool m_bEnded = false;
};
