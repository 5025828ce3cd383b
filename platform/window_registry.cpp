#include "platform/window_registry.h"

#include "platform/host.h"

#include <algorithm>

WindowRegistry& WindowRegistry::Instance()
{
    static WindowRegistry registry;
    return registry;
}

void WindowRegistry::Unregister(CWnd* window)
{
    m_live.erase(window);
    for (CWnd** role : {&m_capture, &m_focus, &m_mainWindow, &m_lastPress}) {
        if (*role == window)
            *role = nullptr;
    }
    // A window made again on the same object is a new window: what was posted to the old one
    // must not reach it.
    std::erase_if(m_posted, [window](const MSG& msg) { return msg.hwnd == window; });
}

void WindowRegistry::Post(const MSG& msg)
{
    m_posted.push_back(msg);
    TheHost().WakeUp();
}

std::optional<MSG> WindowRegistry::TakePosted()
{
    if (m_posted.empty())
        return std::nullopt;
    const MSG msg = m_posted.front();
    m_posted.pop_front();
    return msg;
}
