#include "platform/menu.h"

#include "platform/host.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr UINT kNoItem = 0xFFFFFFFF;

void Fill(CMenu& menu, std::span<const MenuTemplateItem> items)
{
    for (const MenuTemplateItem& item : items) {
        if (item.text == nullptr) {
            menu.AppendMenu(MF_SEPARATOR);
        } else if (!item.popup.empty()) {
            menu.AppendMenu(MF_POPUP, 0, item.text);
            Fill(*menu.GetSubMenu(menu.GetMenuItemCount() - 1), item.popup);
        } else {
            menu.AppendMenu(MF_STRING, item.id, item.text);
        }
    }
}
} // namespace

BOOL CMenu::LoadMenu(std::span<const MenuTemplateItem> resource)
{
    if (m_bLoaded)
        return FALSE;
    m_bLoaded = true;
    Fill(*this, resource);
    return TRUE;
}

BOOL CMenu::DestroyMenu()
{
    if (!m_bLoaded)
        return FALSE;
    m_items.clear();
    m_bLoaded = false;
    Changed(-1, true);
    return TRUE;
}

CMenu* CMenu::GetSubMenu(int position) const
{
    if (position < 0 || position >= GetMenuItemCount())
        return nullptr;
    return m_items[static_cast<size_t>(position)].popup.get();
}

UINT CMenu::GetMenuItemID(int position) const
{
    if (position < 0 || position >= GetMenuItemCount())
        return kNoItem;
    const Item& item = m_items[static_cast<size_t>(position)];
    return item.popup ? kNoItem : item.id;
}

bool CMenu::Find(UINT idOrPosition, UINT flags, const CMenu*& menu, int& position) const
{
    if (flags & MF_BYPOSITION) {
        if (idOrPosition >= m_items.size())
            return false;
        menu = this;
        position = static_cast<int>(idOrPosition);
        return true;
    }
    for (size_t i = 0; i < m_items.size(); ++i) {
        const Item& item = m_items[i];
        if (!item.popup && !item.separator && item.id == idOrPosition) {
            menu = this;
            position = static_cast<int>(i);
            return true;
        }
        if (item.popup && item.popup->Find(idOrPosition, flags, menu, position))
            return true;
    }
    return false;
}

UINT CMenu::GetMenuState(UINT idOrPosition, UINT flags) const
{
    const CMenu* menu = nullptr;
    int position = 0;
    if (!Find(idOrPosition, flags, menu, position))
        return kNoItem;
    const Item& item = menu->m_items[static_cast<size_t>(position)];
    return (item.checked ? MF_CHECKED : 0) | (item.separator ? MF_SEPARATOR : 0) |
           (item.popup ? MF_POPUP : 0);
}

CMenu* CMenu::Holder(UINT idOrPosition, UINT flags, int& position)
{
    const CMenu* found = nullptr;
    return Find(idOrPosition, flags, found, position) ? const_cast<CMenu*>(found) : nullptr;
}

DWORD CMenu::CheckMenuItem(UINT idOrPosition, UINT flags)
{
    int position = 0;
    CMenu* menu = Holder(idOrPosition, flags, position);
    if (menu == nullptr)
        return kNoItem;
    Item& item = menu->m_items[static_cast<size_t>(position)];
    const DWORD previous = item.checked ? MF_CHECKED : MF_UNCHECKED;
    const bool checked = (flags & MF_CHECKED) != 0;
    if (item.checked != checked) {
        item.checked = checked;
        menu->Changed(position, false);
    }
    return previous;
}

BOOL CMenu::AppendMenu(UINT flags, UINT id, const char* text)
{
    m_bLoaded = true;
    Item item;
    item.separator = (flags & MF_SEPARATOR) != 0;
    item.checked = (flags & MF_CHECKED) != 0;
    if (!item.separator) {
        item.text = text ? text : "";
        item.id = id;
    }
    if (flags & MF_POPUP) {
        item.popup = std::make_unique<CMenu>();
        item.popup->m_bLoaded = true;
        Adopt(item.popup.get());
    }
    m_items.push_back(std::move(item));
    Changed(GetMenuItemCount() - 1, true);
    return TRUE;
}

BOOL CMenu::DeleteMenu(UINT idOrPosition, UINT flags)
{
    int position = 0;
    CMenu* menu = Holder(idOrPosition, flags, position);
    if (menu == nullptr)
        return FALSE;
    menu->m_items.erase(menu->m_items.begin() + position);
    menu->Changed(position, true);
    return TRUE;
}

void CMenu::Adopt(CMenu* popup)
{
    popup->m_pRoot = m_pRoot;
    for (Item& item : popup->m_items)
        if (item.popup)
            popup->Adopt(item.popup.get());
}

int CMenu::GetMenuString(UINT idOrPosition, char* buffer, int maxCount, UINT flags) const
{
    const CMenu* menu = nullptr;
    int position = 0;
    if (!Find(idOrPosition, flags, menu, position) || buffer == nullptr || maxCount <= 0)
        return 0;
    const std::string& text = menu->m_items[static_cast<size_t>(position)].text;
    const int count = std::min<int>(maxCount - 1, static_cast<int>(text.size()));
    std::memcpy(buffer, text.data(), static_cast<size_t>(count));
    buffer[count] = '\0';
    return count;
}

void CMenu::Changed(int position, bool structural)
{
    CWnd* owner = m_pRoot->m_pOwner;
    // The owner is set only while it is a live window with this menu bar.
    if (owner == nullptr)
        return;
    if (structural && this != m_pRoot)
        TheHost().MenuPopupChanged(owner, this);
    else if (structural)
        TheHost().MenuBarChanged(owner);
    else
        TheHost().MenuItemChanged(owner, this, position);
}
