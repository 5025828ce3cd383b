#pragma once
// How the keyboard reaches a window's menu bar: through a menu's mnemonic with Alt, and F10,
// which opens the first menu. The menu bar never keeps the keyboard by itself: Qt's keyboard
// mode (a tapped Alt, or Escape out of a menu) would leave it holding the keys with no menu
// open and nothing to tell the user why the panel no longer plays.

#include <QObject>

class QMenuBar;
class QWidget;

class QtMenuBarKeys : public QObject {
public:
    // Serves `bar` for the keys that reach `keyboardOwner`; lives as long as the bar.
    QtMenuBarKeys(QMenuBar* bar, QWidget* keyboardOwner);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OpenFirstMenu();

    QMenuBar* m_bar;
};
