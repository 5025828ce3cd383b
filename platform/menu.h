#pragma once
// A menu as a model: popups, items with id, text and check mark, and separators. The program
// reads and writes it whether or not it is shown; attached to a window, the host shows it as
// the window's menu bar and is told of every change.

#include "platform/win_types.h"

#include <memory>
#include <span>
#include <string>
#include <vector>

class CWnd;

// A menu resource: items in order; a popup has children, a separator has neither id nor text.
struct MenuTemplateItem {
    const char* text; // null for a separator
    UINT id;
    std::span<const MenuTemplateItem> popup;
};

class CMenu {
public:
    struct Item {
        std::string text;
        UINT id = 0;
        bool separator = false;
        bool checked = false;
        std::unique_ptr<CMenu> popup;
    };

    CMenu() = default;
    CMenu(const CMenu&) = delete;
    CMenu& operator=(const CMenu&) = delete;
    ~CMenu() = default;

    BOOL LoadMenu(std::span<const MenuTemplateItem> resource);
    BOOL DestroyMenu();
    bool IsLoaded() const { return m_bLoaded; }

    CMenu* GetSubMenu(int position) const;
    int GetMenuItemCount() const { return static_cast<int>(m_items.size()); }
    UINT GetMenuItemID(int position) const;
    // MF_CHECKED when the item carries a check mark; 0xFFFFFFFF when there is no such item.
    UINT GetMenuState(UINT idOrPosition, UINT flags) const;
    // Returns the previous check state, or 0xFFFFFFFF when there is no such item.
    DWORD CheckMenuItem(UINT idOrPosition, UINT flags);
    BOOL AppendMenu(UINT flags, UINT id = 0, const char* text = nullptr);
    BOOL DeleteMenu(UINT idOrPosition, UINT flags);
    int GetMenuString(UINT idOrPosition, char* buffer, int maxCount, UINT flags) const;

    const std::vector<Item>& Items() const { return m_items; }
    // The window whose menu bar this is (set on the root menu), told of every change.
    void SetOwnerWindow(CWnd* window) { m_pOwner = window; }

private:
    // The popup holding an item and its position there, searching popups too.
    bool Find(UINT idOrPosition, UINT flags, const CMenu*& menu, int& position) const;
    CMenu* Holder(UINT idOrPosition, UINT flags, int& position);
    void Changed(int position, bool structural);
    void Adopt(CMenu* popup);

    std::vector<Item> m_items;
    CMenu* m_pRoot = this;
    CWnd* m_pOwner = nullptr;
    bool m_bLoaded = false;
};
