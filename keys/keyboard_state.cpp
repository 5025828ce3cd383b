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

bool KeyboardState::Let(int key, Source source)
{
    Key& held = m_keys[Index(key)];
    if ((held.sources & source) == 0)
        return false;
    held.sources &= std::uint8_t(~source);
    return held.sources == 0;
}

std::optional<KeyboardState::Sounding> KeyboardState::Release(int key)
{
    Key& held = m_keys[Index(key)];
    if (held.sources == 0)
        return std::nullopt;
    held.sources = 0;
    return held.sounding;
}
