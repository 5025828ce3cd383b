#include "platform/qt/qt_menu_bar_keys.h"

#include <QKeyEvent>
#include <QMenuBar>
#include <QProxyStyle>

namespace {
// The style of the desktop, except that the menu bar has no keyboard mode of its own.
class NoMenuBarKeyboardModeStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == SH_MenuBar_AltKeyNavigation)
            return 0;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

bool IsPlainF10(const QKeyEvent& key)
{
    return key.key() == Qt::Key_F10 && (key.modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}
} // namespace

QtMenuBarKeys::QtMenuBarKeys(QMenuBar* bar, QWidget* keyboardOwner) : QObject(bar), m_bar(bar)
{
    auto* style = new NoMenuBarKeyboardModeStyle;
    // The widget does not own its style; this object, which the bar owns, does.
    style->setParent(this);
    bar->setStyle(style);
    keyboardOwner->installEventFilter(this);
}

void QtMenuBarKeys::OpenFirstMenu()
{
    for (QAction* action : m_bar->actions()) {
        if (action->isVisible() && action->isEnabled()) {
            m_bar->setActiveAction(action);
            return;
        }
    }
}

bool QtMenuBarKeys::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (!IsPlainF10(*key) || !m_bar->isVisible())
        return false;
    if (event->type() == QEvent::KeyPress && !key->isAutoRepeat())
        OpenFirstMenu();
    return true;
}
