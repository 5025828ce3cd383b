#pragma once
// Menu resource 128, the panel's menu bar.

#include "platform/menu.h"

#include <span>

std::span<const MenuTemplateItem> MainMenuResource();
