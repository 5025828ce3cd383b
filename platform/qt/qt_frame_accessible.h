#pragma once
// A top-level window as a screen reader sees it: a frame named by its title. The keyboard
// focus is the canvas's, which the frame passes it to; the frame never reads as focused
// itself, or a reader would take the frame for the focus and not hear what the panel says.

#include <QAccessibleWidget>

class QtFrameAccessible : public QAccessibleWidget {
public:
    explicit QtFrameAccessible(QWidget* window) : QAccessibleWidget(window, QAccessible::Window) {}

    QAccessible::State state() const override;
};
