#pragma once
// One of our child windows as a screen reader sees it through Qt: its role, name, state and
// place, and for a dial its value, each asked of the window itself. The window is no Qt object,
// so its interface is made here on first asking, kept in Qt's cache, and ended with the window
// or with the canvas that shows it.

#include <QAccessibleInterface>

#include <vector>

class CWnd;
class QWidget;

class QtWindowAccessible : public QAccessibleInterface, public QAccessibleValueInterface {
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

    // The value of a dial; it is set with the mouse only.
    QVariant currentValue() const override;
    void setCurrentValue(const QVariant&) override {}
    QVariant maximumValue() const override;
    QVariant minimumValue() const override;
    QVariant minimumStepSize() const override { return 1; }

private:
    QtWindowAccessible(CWnd* window, QWidget* canvas) : m_window(window), m_canvas(canvas) {}

    CWnd* m_window;
    QWidget* m_canvas;
};
