#include "sound/port_slots.h"

#include <regex>

void PortSlots::Update(const std::vector<Port>& ports, std::bitset<kSlots> open)
{
    std::vector<bool> placed(ports.size(), false);
    // Ports still there, or back, keep their place.
    for (Slot& slot : m_slots) {
        slot.present = false;
        if (!slot.used)
            continue;
        const std::string identity = Identity(slot.port);
        for (std::size_t i = 0; i < ports.size(); ++i) {
            if (!placed[i] && Identity(ports[i]) == identity) {
                slot.port = ports[i];
                slot.present = placed[i] = true;
                break;
            }
        }
    }
    for (std::size_t i = 0; i < ports.size(); ++i) {
        if (placed[i])
            continue;
        Slot* slot = FreeSlot(open);
        if (!slot)
            break;
        *slot = {ports[i], true, true};
    }
}

PortSlots::Slot* PortSlots::FreeSlot(std::bitset<kSlots> open)
{
    for (Slot& slot : m_slots) {
        if (!slot.used)
            return &slot;
    }
    for (std::size_t i = 0; i < kSlots; ++i) {
        if (!m_slots[i].present && !open.test(i))
            return &m_slots[i];
    }
    return nullptr;
}

std::size_t PortSlots::Count() const
{
    for (std::size_t count = kSlots; count > 0; --count) {
        if (m_slots[count - 1].present)
            return count;
    }
    return 0;
}

const PortSlots::Port* PortSlots::At(std::size_t slot) const
{
    return slot < kSlots && m_slots[slot].present ? &m_slots[slot].port : nullptr;
}

std::string PortSlots::Identity(const Port& port)
{
    return port.api == PortApi::Alsa ? "alsa " + WithoutAddress(port.name) : "jack " + port.name;
}

std::string PortSlots::WithoutAddress(const std::string& alsaName)
{
    static const std::regex address(" [0-9]+:[0-9]+$");
    return std::regex_replace(alsaName, address, "");
}
