#include "keys/keyboard_state.h"

bool KeyboardState::Press(int key, Source source, Sounding sounding)
{
    Key& held = m_keys[Index(key)];
    const bool wasUp = held.sources == 0;
    if (wasUp)
        held.sounding = sounding;
    held.sources |= source;
    return wasUp;
}

std::optional<KeyboardState::Sounding> KeyboardState::Release(int key)
{
    Key& held = m_keys[Index(key)];
    if (held.sources == 0)
        return std::nullopt;
    held.sources = 0;
    return held.sounding;
}
