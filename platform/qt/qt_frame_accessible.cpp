#include "platform/qt/qt_frame_accessible.h"

QAccessible::State QtFrameAccessible::state() const
{
    QAccessible::State state = QAccessibleWidget::state();
    state.focused = false;
    return state;
}
