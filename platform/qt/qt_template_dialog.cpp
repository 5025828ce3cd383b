#include "platform/qt/qt_template_dialog.h"

#include "platform/gdi.h"
#include "platform/gdi_objects.h"
#include "platform/qt/pixel_art.h"

#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

#include <cstdlib>

namespace {
QRect Place(const DialogControl& control, const DialogBaseUnits& units)
{
    return QRect(units.X(control.x), units.Y(control.y), units.X(control.cx), units.Y(control.cy));
}
} // namespace

QFont QtTemplateDialog::DialogFont()
{
    // A sans font with the cell of an 8-point dialog font: about 13 pixels a line.
    QFont font("DejaVu Sans");
    font.setPixelSize(11);
    return font;
}

DialogBaseUnits QtTemplateDialog::BaseUnits()
{
    const QFontMetrics metrics(DialogFont());
    const QString alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    DialogBaseUnits units;
    units.cx = (metrics.horizontalAdvance(alphabet) / 26 + 1) / 2;
    units.cy = metrics.height();
    return units;
}

QtTemplateDialog::QtTemplateDialog(const DialogTemplate& resource, QWidget* owner) : QDialog(owner)
{
    setWindowTitle(QString::fromUtf8(resource.caption));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFont(DialogFont());
    const DialogBaseUnits units = BaseUnits();
    setFixedSize(units.X(resource.cx), units.Y(resource.cy));
    for (const DialogControl& control : resource.controls)
        AddControl(control, units);
}

void QtTemplateDialog::AddControl(const DialogControl& control, const DialogBaseUnits& units)
{
    switch (control.kind) {
    case DialogControlKind::Static: {
        auto* label = new QLabel(QString::fromUtf8(control.text), this);
        label->setGeometry(Place(control, units));
        // A static's text starts at its top, so one- and two-line labels side by side begin on
        // the same line.
        label->setAlignment(((control.style & SS_CENTER) ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignTop);
        if (control.exStyle & WS_EX_DLGMODALFRAME) {
            label->setFrameStyle(QFrame::Panel | QFrame::Raised);
            label->setLineWidth(2);
        }
        break;
    }
    case DialogControlKind::Picture: {
        auto* picture = new QLabel(this);
        const int id = std::atoi(control.text);
        HANDLE bitmap = LoadImageA(AfxGetResourceHandle(), MAKEINTRESOURCE(id), IMAGE_BITMAP, 0, 0,
                                   LR_CREATEDIBSECTION | LR_DEFAULTSIZE);
        if (const QImage* image = DibImage(static_cast<HBITMAP>(bitmap))) {
            // Made here for the screen, the logo is drawn unscaled and looks like the panel's
            // art; left to the label, it would be smoothed.
            picture->setPixmap(PixelArtPixmap(*image, picture->devicePixelRatioF()));
        }
        DeleteObject(static_cast<HBITMAP>(bitmap));
        picture->move(units.X(control.x), units.Y(control.y));
        picture->adjustSize();
        break;
    }
    case DialogControlKind::Button: {
        auto* button = new QPushButton(QString::fromUtf8(control.text), this);
        button->setGeometry(Place(control, units));
        const bool isDefault = (control.style & BS_DEFPUSHBUTTON) != 0;
        button->setDefault(isDefault);
        button->setAutoDefault(isDefault);
        const int id = static_cast<int>(control.id);
        connect(button, &QPushButton::clicked, this, [this, id] { done(id); });
        if (isDefault)
            button->setFocus();
        break;
    }
    }
}
