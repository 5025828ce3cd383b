#pragma once
// Events a screen reader listens for that Qt's bridge to AT-SPI does not send, or sends
// without the text a reader speaks: a control's pressed state going on or off, and a new
// description, with its text. They go out on the bridge's own connection to the accessibility
// bus, as events of the objects the bridge shows.

class QAccessibleInterface;
class QString;

class QtAtSpiEvents {
public:
    static void StateChanged(QAccessibleInterface* object, const char* state, bool on);
    static void DescriptionChanged(QAccessibleInterface* object, const QString& description);
};
