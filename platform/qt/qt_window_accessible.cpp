#include "platform/qt/qt_window_accessible.h"

#include "platform/window_manager.h"
#include "platform/wnd.h"

#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <iterator>
#include <unordered_map>
#include <utility>

namespace {
struct Made {
    QAccessible::Id id;
    const QWidget* canvas;
};

// The interfaces made so far, by window.
std::unordered_map<const CWnd*, Made>& MadeInterfaces()
{
    static std::unordered_map<const CWnd*, Made> made;
    return made;
}

bool IsLive(const CWnd* window) { return WindowRegistry::Instance().IsLive(window); }

// How long a reader's press holds a control down: a short click's time, so that a key sounds
// as it does under a quick click of the mouse.
constexpr int kPressMs = 150;

// The control a reader's press holds down, and which press that is.
CWnd* g_pressed = nullptr;
unsigned g_presses = 0;

template <typename Condition> void ForgetWhere(Condition condition)
{
    std::erase_if(MadeInterfaces(), [&](const auto& entry) {
        if (!condition(entry))
            return false;
        QAccessible::deleteAccessibleInterface(entry.second.id);
        return true;
    });
}

// Where a child window shows on the screen.
QRect ScreenRect(const CWnd* window, const QWidget* canvas)
{
    QPoint inCanvas(0, 0);
    for (const CWnd* each = window; each->GetParent() != nullptr; each = each->GetParent())
        inCanvas += QPoint(each->RectInParent().left, each->RectInParent().top);
    const CRect place = window->RectInParent();
    return QRect(canvas->mapToGlobal(inCanvas), QSize(place.Width(), place.Height()));
}
} // namespace

// ---- The windows' interfaces ---------------------------------------------------------------

QAccessibleInterface* QtWindowAccessible::Of(CWnd* window, QWidget* canvas)
{
    if (window == nullptr || !IsLive(window))
        return nullptr;
    if (window->GetParent() == nullptr)
        return QAccessible::queryAccessibleInterface(canvas);
    auto& made = MadeInterfaces();
    auto found = made.find(window);
    // A window of the same address on another canvas is another window.
    if (found != made.end() && found->second.canvas != canvas) {
        QAccessible::deleteAccessibleInterface(found->second.id);
        made.erase(found);
        found = made.end();
    }
    if (found == made.end()) {
        const QAccessible::Id id =
            QAccessible::registerAccessibleInterface(new QtWindowAccessible(window, canvas));
        found = made.emplace(window, Made{id, canvas}).first;
    }
    return QAccessible::accessibleInterface(found->second.id);
}

void QtWindowAccessible::Forget(const QWidget* canvas)
{
    ForgetWhere([canvas](const auto& entry) { return entry.second.canvas == canvas; });
}

void QtWindowAccessible::ForgetGoneWindows()
{
    ForgetWhere([](const auto& entry) { return !IsLive(entry.first); });
}

// ---- Roles and the tree ----------------------------------------------------------------------

QAccessible::Role QtWindowAccessible::RoleOf(const CWnd& window)
{
    switch (window.GetAccessibleRole()) {
    case AccessibleRole::Button:
        return QAccessible::Button;
    case AccessibleRole::RadioButton:
        return QAccessible::RadioButton;
    case AccessibleRole::Dial:
        return QAccessible::Dial;
    case AccessibleRole::Label:
        return QAccessible::StaticText;
    case AccessibleRole::Panel:
        break;
    }
    return QAccessible::Pane;
}

// Siblings are read in the order of their ids, in which the program numbers the controls of a
// row: the keys by their notes, the lamps, the styles. Their order on the screen would put every
// black key before the white ones, which they cover.
std::vector<CWnd*> QtWindowAccessible::InReadingOrder(const CWnd* parent)
{
    std::vector<CWnd*> children = parent->Children();
    std::stable_sort(children.begin(), children.end(),
                     [](const CWnd* a, const CWnd* b) { return a->GetDlgCtrlID() < b->GetDlgCtrlID(); });
    return children;
}

QAccessibleInterface* QtWindowAccessible::ChildOf(const CWnd* parent, int index, QWidget* canvas)
{
    if (!IsLive(parent) || index < 0 || index >= static_cast<int>(parent->Children().size()))
        return nullptr;
    return Of(InReadingOrder(parent)[static_cast<size_t>(index)], canvas);
}

int QtWindowAccessible::IndexOfChild(const CWnd* parent, const QAccessibleInterface* child)
{
    const auto* window = dynamic_cast<const QtWindowAccessible*>(child);
    if (window == nullptr || !IsLive(parent))
        return -1;
    const std::vector<CWnd*> children = InReadingOrder(parent);
    const auto found = std::find(children.begin(), children.end(), window->m_window);
    return found == children.end() ? -1 : static_cast<int>(std::distance(children.begin(), found));
}

QAccessibleInterface* QtWindowAccessible::ChildAt(const CWnd* parent, QPoint point, QWidget* canvas)
{
    if (!IsLive(parent))
        return nullptr;
    // Siblings come topmost first, as the mouse finds them.
    for (CWnd* child : parent->Children())
        if (child->IsWindowVisible() && ScreenRect(child, canvas).contains(point))
            return Of(child, canvas);
    return nullptr;
}

// ---- One window ----------------------------------------------------------------------------

bool QtWindowAccessible::isValid() const { return IsLive(m_window); }

QWindow* QtWindowAccessible::window() const { return m_canvas->window()->windowHandle(); }

QAccessibleInterface* QtWindowAccessible::parent() const { return Of(m_window->GetParent(), m_canvas); }

QAccessibleInterface* QtWindowAccessible::child(int index) const
{
    return ChildOf(m_window, index, m_canvas);
}

int QtWindowAccessible::childCount() const { return static_cast<int>(m_window->Children().size()); }

int QtWindowAccessible::indexOfChild(const QAccessibleInterface* child) const
{
    return IndexOfChild(m_window, child);
}

QAccessibleInterface* QtWindowAccessible::childAt(int x, int y) const
{
    return ChildAt(m_window, QPoint(x, y), m_canvas);
}

QRect QtWindowAccessible::rect() const { return ScreenRect(m_window, m_canvas); }

QString QtWindowAccessible::text(QAccessible::Text type) const
{
    if (type == QAccessible::Name)
        return QString::fromStdString(m_window->GetAccessibleName());
    if (type == QAccessible::Description)
        return QString::fromStdString(m_window->GetAccessibleDescription());
    if (type == QAccessible::Value && role() == QAccessible::Dial)
        return QString::number(m_window->GetAccessibleValue().current);
    return {};
}

QAccessible::Role QtWindowAccessible::role() const { return RoleOf(*m_window); }

QAccessible::State QtWindowAccessible::state() const
{
    const AccessibleState own = m_window->GetAccessibleState();
    QAccessible::State state;
    state.invisible = !m_window->IsWindowVisible();
    state.pressed = own.pressed;
    state.checkable = own.checkable;
    state.checked = own.checked;
    return state;
}

void* QtWindowAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::ActionInterface && IsPressable())
        return static_cast<QAccessibleActionInterface*>(this);
    if (type == QAccessible::ValueInterface && role() == QAccessible::Dial)
        return static_cast<QAccessibleValueInterface*>(this);
    if (type == QAccessible::TextInterface && role() == QAccessible::StaticText)
        return static_cast<QAccessibleTextInterface*>(this);
    return nullptr;
}

// ---- Pressing ------------------------------------------------------------------------------

bool QtWindowAccessible::IsPressable() const
{
    const AccessibleRole own = m_window->GetAccessibleRole();
    return own == AccessibleRole::Button || own == AccessibleRole::RadioButton;
}

QStringList QtWindowAccessible::actionNames() const
{
    return IsPressable() ? QStringList{pressAction()} : QStringList{};
}

void QtWindowAccessible::doAction(const QString& actionName)
{
    if (actionName != pressAction() || !IsPressable() || !isValid())
        return;
    LetGoOfPress();
    g_pressed = m_window;
    const unsigned press = ++g_presses;
    WindowManager::Instance().PressLeftOn(m_window);
    QTimer::singleShot(kPressMs, m_canvas, [press] {
        if (press == g_presses)
            LetGoOfPress();
    });
}

void QtWindowAccessible::LetGoOfPress()
{
    if (CWnd* pressed = std::exchange(g_pressed, nullptr))
        WindowManager::Instance().ReleaseLeftFrom(pressed);
}

// ---- Value and text ------------------------------------------------------------------------

QVariant QtWindowAccessible::currentValue() const { return m_window->GetAccessibleValue().current; }

void QtWindowAccessible::setCurrentValue(const QVariant& value)
{
    // AT-SPI gives values as real numbers.
    if (isValid())
        m_window->SetAccessibleValue(qRound(value.toDouble()));
}
QVariant QtWindowAccessible::maximumValue() const { return m_window->GetAccessibleValue().maximum; }
QVariant QtWindowAccessible::minimumValue() const { return m_window->GetAccessibleValue().minimum; }

QString QtWindowAccessible::text(int startOffset, int endOffset) const
{
    const QString all = text(QAccessible::Name);
    return all.mid(startOffset, endOffset - startOffset);
}

int QtWindowAccessible::characterCount() const { return static_cast<int>(text(QAccessible::Name).size()); }

QString QtWindowAccessible::attributes(int, int* startOffset, int* endOffset) const
{
    // One run without attributes covers the whole text.
    *startOffset = 0;
    *endOffset = characterCount();
    return {};
}
