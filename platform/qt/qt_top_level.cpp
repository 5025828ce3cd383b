#include "platform/qt/qt_top_level.h"

#include "platform/menu.h"
#include "platform/qt/qt_canvas.h"
#include "platform/qt/qt_host.h"
#include "platform/window_manager.h"

#include <QCloseEvent>
#include <QMenu>
#include <QMenuBar>
#include <QVBoxLayout>
#include <QWindow>

QtTopLevel::QtTopLevel(CWnd* window, QtHost& host)
    : QWidget(nullptr), m_window(window), m_host(host), m_menuBar(new QMenuBar(this)), m_canvas(new QtCanvas(window, this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setMenuBar(m_menuBar);
    layout->addWidget(m_canvas);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    m_menuBar->setFixedHeight(host.MenuBarHeight());
    m_menuBar->hide();
    setFocusProxy(m_canvas);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowTitle(QString::fromStdString(window->WindowText()));
}

FrameInsets QtTopLevel::WindowFrame() const
{
    if (m_frameless)
        return {};
    if (isVisible()) {
        const QRect inner = geometry();
        const QRect outer = frameGeometry();
        const_cast<QtTopLevel*>(this)->m_lastFrame = {inner.left() - outer.left(), inner.top() - outer.top(),
                                                     outer.right() - inner.right(), outer.bottom() - inner.bottom()};
    }
    return m_lastFrame;
}

void QtTopLevel::ApplyGeometry()
{
    CRect outer;
    m_window->GetWindowRect(&outer);
    CRect client;
    m_window->GetClientRect(&client);
    const FrameInsets frame = WindowFrame();
    m_applying = true;
    m_canvas->setFixedSize(std::max<int>(client.Width(), 1), std::max<int>(client.Height(), 1));
    const int menuHeight = m_window->GetMenu() != nullptr ? m_host.MenuBarHeight() : 0;
    const QRect inner(outer.left + frame.left, outer.top + frame.top, client.Width(), client.Height() + menuHeight);
    setGeometry(inner);
    m_applying = false;
}

void QtTopLevel::ApplyStyle()
{
    const bool frameless = (m_window->GetStyle() & WS_CAPTION) != WS_CAPTION;
    if (frameless == m_frameless)
        return;
    WindowFrame();   // remember the frame while it is there
    m_frameless = frameless;
    const bool wasVisible = isVisible();
    setWindowFlag(Qt::FramelessWindowHint, frameless);
    ApplyGeometry();
    if (wasVisible)
        show();
}

void QtTopLevel::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    if (m_applying)
        return;
    const FrameInsets frame = WindowFrame();
    CRect outer;
    m_window->GetWindowRect(&outer);
    const int left = geometry().left() - frame.left;
    const int top = geometry().top() - frame.top;
    WindowManager::Instance().NativeMoved(m_window, CRect(left, top, left + outer.Width(), top + outer.Height()));
}

void QtTopLevel::closeEvent(QCloseEvent* event)
{
    // Our window decides; it closes itself by destroying its window.
    event->ignore();
    WindowManager::Instance().CloseRequested(m_window);
}

void QtTopLevel::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange)
        WindowManager::Instance().Activated(m_window, isActiveWindow());
}

// ---- Menu bar ------------------------------------------------------------------------------

void QtTopLevel::ShowCheck(QAction* action, bool checked)
{
    // Only a checked item shows a box, so an unchecked one looks like a plain item.
    action->setCheckable(checked);
    action->setChecked(checked);
}

QAction* QtTopLevel::MakeAction(CMenu& model, int position, QWidget* parent)
{
    const CMenu::Item& item = model.Items()[static_cast<size_t>(position)];
    QAction* action = nullptr;
    if (item.popup) {
        auto* popup = new QMenu(QString::fromStdString(item.text), parent);
        AddItems(popup, *item.popup);
        action = popup->menuAction();
    } else {
        action = new QAction(QString::fromStdString(item.text), parent);
        const UINT id = item.id;
        CMenu* menu = &model;
        connect(action, &QAction::triggered, this, [this, action, menu, position, id] {
            // The model, not the click, decides the mark.
            ShowCheck(action, menu->Items()[static_cast<size_t>(position)].checked);
            WindowManager::Instance().MenuCommand(m_window, id);
        });
    }
    ShowCheck(action, item.checked);
    m_actions[{&model, position}] = action;
    return action;
}

void QtTopLevel::AddItems(QMenu* menu, CMenu& model)
{
    for (int i = 0; i < model.GetMenuItemCount(); ++i) {
        if (model.Items()[static_cast<size_t>(i)].separator)
            menu->addSeparator();
        else
            menu->addAction(MakeAction(model, i, menu));
    }
}

void QtTopLevel::AddItems(QMenuBar* bar, CMenu& model)
{
    for (int i = 0; i < model.GetMenuItemCount(); ++i)
        if (!model.Items()[static_cast<size_t>(i)].separator)
            bar->addAction(MakeAction(model, i, bar));
}

void QtTopLevel::RebuildMenu()
{
    m_actions.clear();
    m_menuBar->clear();
    CMenu* menu = m_window->GetMenu();
    if (menu != nullptr)
        AddItems(m_menuBar, *menu);
    m_menuBar->setVisible(menu != nullptr);
    ApplyGeometry();
}

void QtTopLevel::UpdateMenuItem(CMenu* popup, int position)
{
    auto it = m_actions.find({popup, position});
    if (it == m_actions.end())
        return;
    ShowCheck(it->second, popup->Items()[static_cast<size_t>(position)].checked);
}
