#pragma once
// A plain dialog built from its template: labels, pictures and push buttons placed in dialog
// units of the dialog font.

#include "platform/dialog_template.h"

#include <QDialog>

class QtTemplateDialog : public QDialog {
public:
    QtTemplateDialog(const DialogTemplate& resource, QWidget* owner);

    // Dialog units of the dialog font, from its average character width and height.
    static DialogBaseUnits BaseUnits();
    static QFont DialogFont();

private:
    void AddControl(const DialogControl& control, const DialogBaseUnits& units);
};
