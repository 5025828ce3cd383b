#include "tests/test_host.h"

#include "platform/dialog_template.h"

#include <QPainter>

TestHost::TestHost() : m_previous(SetHost(this)) {}

TestHost::~TestHost() { SetHost(m_previous); }

// The frame of the desktop the panel's figures were first drawn for: caption and menu bar
// take 41 pixels above the client area, and the outer size is the client's plus 6 and 40.
FrameInsets TestHost::Insets(CWnd*, bool caption, bool menuBar)
{
    if (caption && menuBar)
        return {3, 41, 3, -1};
    if (caption)
        return {3, 22, 3, 3};
    if (menuBar)
        return {0, 19, 0, 0};
    return {};
}

void TestHost::Advance(std::uint64_t milliseconds)
{
    const std::uint64_t end = m_now + milliseconds;
    for (;;) {
        auto next = m_timers.end();
        for (auto it = m_timers.begin(); it != m_timers.end(); ++it)
            if (next == m_timers.end() || it->second.due < next->second.due)
                next = it;
        if (next == m_timers.end() || next->second.due > end)
            break;
        const auto key = next->first;
        if (next->second.due > m_now)
            m_now = next->second.due;
        // A timer that fell due while the thread was blocked fires once, then keeps its period.
        next->second.due = m_now + next->second.period;
        WindowManager::Instance().Timer(key.first, key.second);
    }
    m_now = end;
}

std::uint64_t TestHost::TimerDue(CWnd* window, UINT id) const
{
    auto it = m_timers.find({window, id});
    return it == m_timers.end() ? 0 : it->second.due;
}

void TestHost::StartTimer(CWnd* window, UINT id, UINT milliseconds)
{
    m_timers[{window, id}] = Timer{milliseconds, m_now + milliseconds};
}

void TestHost::StopTimer(CWnd* window, UINT id) { m_timers.erase({window, id}); }

void TestHost::WindowDestroyed(CWnd* top)
{
    for (auto it = m_timers.begin(); it != m_timers.end();)
        it = (it->first.first == top) ? m_timers.erase(it) : std::next(it);
}

void TestHost::Mouse(CWnd* top, MouseAction action, UINT button, CPoint point, UINT modifiers)
{
    if (action == MouseAction::Press)
        m_buttons |= button;
    if (action == MouseAction::Release)
        m_buttons &= ~button;
    MouseInput input;
    input.action = action;
    input.button = button;
    input.point = point;
    input.buttons = m_buttons;
    input.shift = (modifiers & MK_SHIFT) != 0;
    input.control = (modifiers & MK_CONTROL) != 0;
    input.timeMs = m_now;
    WindowManager::Instance().Mouse(top, input);
}

void TestHost::Press(CWnd* top, CPoint point, UINT button, UINT modifiers)
{
    Mouse(top, MouseAction::Press, button, point, modifiers);
}

void TestHost::Release(CWnd* top, CPoint point, UINT button, UINT modifiers)
{
    Mouse(top, MouseAction::Release, button, point, modifiers);
}

void TestHost::Move(CWnd* top, CPoint point, UINT modifiers)
{
    Mouse(top, MouseAction::Move, 0, point, modifiers);
}

void TestHost::Click(CWnd* top, CPoint point)
{
    Press(top, point);
    Release(top, point);
}

bool TestHost::KeyDown(CWnd* top, int scanCode, bool extended, bool repeat)
{
    KeyInput key;
    key.down = true;
    key.scanCode = scanCode;
    key.extended = extended;
    key.previouslyDown = repeat;
    return WindowManager::Instance().Key(top, key);
}

bool TestHost::KeyUp(CWnd* top, int scanCode, bool extended)
{
    KeyInput key;
    key.down = false;
    key.scanCode = scanCode;
    key.extended = extended;
    return WindowManager::Instance().Key(top, key);
}

void TestHost::RunModalLoop(CWnd* dialog)
{
    if (onModal)
        onModal(dialog);
}

int TestHost::RunTemplateDialog(const DialogTemplate& dialog, CWnd* owner)
{
    templateDialogs.push_back(dialog.id);
    templateDialogOwners.push_back(owner);
    if (onTemplateDialog)
        onTemplateDialog(dialog);
    return IDOK;
}

int TestHost::MessageBox(CWnd* owner, const std::string& text, const std::string& caption, UINT type)
{
    messageBoxes.push_back({owner, text, caption, type});
    return IDOK;
}

QImage TestHost::Render(CWnd* top)
{
    CRect client;
    top->GetClientRect(&client);
    QImage image(client.Width(), client.Height(), QImage::Format_RGB32);
    image.fill(Qt::magenta);
    QPainter painter(&image);
    CDC dc(&painter);
    WindowManager::Instance().Paint(top, dc, client);
    return image;
}
