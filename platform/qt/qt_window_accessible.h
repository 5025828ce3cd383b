#pragma once
// One of our child windows as a screen reader sees it through Qt: its role, name, description,
// state and place, for a dial its value, for a label its text, each asked of the window itself;
// and what a reader may do with it: press a button, set a dial's value. The window is no Qt
// object, so its interface is made here on first asking, kept in Qt's cache, and ended with the
// window or with the canvas that shows it.

#include <QAccessibleInterface>

#include <vector>

class CWnd;
class QWidget;

class QtWindowAccessible : public QAccessibleInterface,
                           public QAccessibleActionInterface,
                           public QAccessibleValueInterface,
                           public QAccessibleTextInterface {
public:
    // The interface of a child window shown on `canvas`; the canvas's own for its top-level window.
    static QAccessibleInterface* Of(CWnd* window, QWidget* canvas);
    // Ends the interfaces of the windows shown on `canvas`, or of the windows that are gone.
    static void Forget(const QWidget* canvas);
    static void ForgetGoneWindows();

    // The role Qt knows for the role the window gives itself.
    static QAccessible::Role RoleOf(const CWnd& window);
    // A window's children in the order a screen reader reads them.
    static std::vector<CWnd*> InReadingOrder(const CWnd* parent);
    static QAccessibleInterface* ChildOf(const CWnd* parent, int index, QWidget* canvas);
    static int IndexOfChild(const CWnd* parent, const QAccessibleInterface* child);
    // The visible child of `parent` under a point of the screen, if any.
    static QAccessibleInterface* ChildAt(const CWnd* parent, QPoint point, QWidget* canvas);

    bool isValid() const override;
    QObject* object() const override { return nullptr; }
    QWindow* window() const override;
    QAccessibleInterface* parent() const override;
    QAccessibleInterface* child(int index) const override;
    int childCount() const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;
    QRect rect() const override;
    QString text(QAccessible::Text type) const override;
    void setText(QAccessible::Text, const QString&) override {}
    QAccessible::Role role() const override;
    QAccessible::State state() const override;
    void* interface_cast(QAccessible::InterfaceType type) override;

    // A button's press: the left button goes down on it and comes up a short click later.
    // One press at a time: the next one lets go of the one before first.
    QStringList actionNames() const override;
    void doAction(const QString& actionName) override;
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

    // The value of a dial. Qt's bridge also offers a reader to increase and decrease it, by one.
    QVariant currentValue() const override;
    void setCurrentValue(const QVariant& value) override;
    QVariant maximumValue() const override;
    QVariant minimumValue() const override;
    QVariant minimumStepSize() const override { return 1; }

    // The text of a label, which is its name; it is read, never selected or edited.
    QString text(int startOffset, int endOffset) const override;
    int characterCount() const override;
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    void selection(int, int* startOffset, int* endOffset) const override { *startOffset = *endOffset = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    QRect characterRect(int) const override { return rect(); }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int offset, int* startOffset, int* endOffset) const override;

private:
    QtWindowAccessible(CWnd* window, QWidget* canvas) : m_window(window), m_canvas(canvas) {}
    bool IsPressable() const;
    static void LetGoOfPress();

    CWnd* m_window;
    QWidget* m_canvas;
};
