#include "platform/qt/qt_canvas_accessible.h"

#include "platform/qt/qt_atspi_events.h"
#include "platform/qt/qt_window_accessible.h"
#include "platform/wnd.h"

#include <QStringList>

#include <utility>

QtCanvasAccessible::QtCanvasAccessible(QWidget* canvas, CWnd* top)
    : QAccessibleWidget(canvas), m_canvas(canvas), m_top(top)
{
}

QtCanvasAccessible::~QtCanvasAccessible() { QtWindowAccessible::Forget(m_canvas); }

bool QtCanvasAccessible::ShowsTop() const { return isValid() && WindowRegistry::Instance().IsLive(m_top); }

QAccessible::Role QtCanvasAccessible::role() const
{
    return ShowsTop() ? QtWindowAccessible::RoleOf(*m_top) : QAccessibleWidget::role();
}

QString QtCanvasAccessible::text(QAccessible::Text type) const
{
    if (type == QAccessible::Name && ShowsTop())
        return QString::fromStdString(m_top->GetAccessibleName());
    if (type == QAccessible::Description && ShowsTop())
        return m_news;
    return QAccessibleWidget::text(type);
}

QAccessibleInterface* QtCanvasAccessible::child(int index) const
{
    return ShowsTop() ? QtWindowAccessible::ChildOf(m_top, index, m_canvas) : nullptr;
}

int QtCanvasAccessible::childCount() const
{
    return ShowsTop() ? static_cast<int>(m_top->Children().size()) : 0;
}

int QtCanvasAccessible::indexOfChild(const QAccessibleInterface* child) const
{
    return ShowsTop() ? QtWindowAccessible::IndexOfChild(m_top, child) : -1;
}

QAccessibleInterface* QtCanvasAccessible::childAt(int x, int y) const
{
    return ShowsTop() ? QtWindowAccessible::ChildAt(m_top, QPoint(x, y), m_canvas) : nullptr;
}

// ---- Changes -------------------------------------------------------------------------------

void QtCanvasAccessible::AnnounceChanges()
{
    QtWindowAccessible::ForgetGoneWindows();
    std::erase_if(m_seen, [](const auto& entry) { return !WindowRegistry::Instance().IsLive(entry.first); });
    if (!ShowsTop())
        return;
    std::vector<std::string> news;
    AnnounceChanges(m_top, news);
    if (news.empty())
        return;
    QStringList parts;
    for (const std::string& each : news)
        parts << QString::fromStdString(each);
    m_news = parts.join(QStringLiteral(". "));
    QtAtSpiEvents::DescriptionChanged(this, m_news);
}

void QtCanvasAccessible::AnnounceChanges(CWnd* parent, std::vector<std::string>& news)
{
    for (CWnd* window : QtWindowAccessible::InReadingOrder(parent)) {
        Seen now{window->GetAccessibleName(), window->GetAccessibleState(), window->GetAccessibleValue()};
        auto [seen, first] = m_seen.try_emplace(window, now);
        if (!first) {
            Announce(window, seen->second, now);
            if (IsNews(*window, seen->second, now))
                news.push_back(NewsOf(*window));
            seen->second = std::move(now);
        }
        AnnounceChanges(window, news);
    }
}

void QtCanvasAccessible::Announce(CWnd* window, const Seen& before, const Seen& now)
{
    QAccessibleInterface* changed = QtWindowAccessible::Of(window, m_canvas);
    if (now.name != before.name) {
        QAccessibleEvent event(changed, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&event);
        if (changed->textInterface() != nullptr) {
            QAccessibleTextUpdateEvent text(changed, 0, QString::fromStdString(before.name),
                                            QString::fromStdString(now.name));
            QAccessible::updateAccessibility(&text);
        }
    }
    // Qt's bridge passes a change of the checked state on, not one of the pressed state.
    if (now.state.pressed != before.state.pressed)
        QtAtSpiEvents::StateChanged(changed, "pressed", now.state.pressed);
    if (now.state.checkable != before.state.checkable || now.state.checked != before.state.checked) {
        QAccessible::State states;
        states.checkable = now.state.checkable != before.state.checkable;
        states.checked = now.state.checked != before.state.checked;
        QAccessibleStateChangeEvent event(changed, states);
        QAccessible::updateAccessibility(&event);
    }
    if (now.value != before.value) {
        QAccessibleValueChangeEvent event(changed, now.value.current);
        QAccessible::updateAccessibility(&event);
    }
}

bool QtCanvasAccessible::IsNews(const CWnd& window, const Seen& before, const Seen& now)
{
    const bool labelChanged = window.GetAccessibleRole() == AccessibleRole::Label && now.name != before.name;
    const bool lit = now.state.checked && !before.state.checked;
    return labelChanged || lit;
}

std::string QtCanvasAccessible::NewsOf(const CWnd& window)
{
    const std::string choice = window.GetAccessibleDescription();
    return choice.empty() ? window.GetAccessibleName() : choice + " " + window.GetAccessibleName();
}
