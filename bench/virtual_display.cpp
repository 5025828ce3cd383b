#include "bench/virtual_display.h"

#include "bench/x_screen_probe.h"

#include <filesystem>
#include <thread>

namespace {
constexpr int kFirstDisplay = 150;
constexpr int kLastDisplay = 199;

bool WaitUntilServing(ChildProcess& server, const std::string& name)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline && !server.HasEnded()) {
        if (XScreenProbe::Connect(name))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}
} // namespace

std::unique_ptr<VirtualDisplay> VirtualDisplay::Start()
{
    for (int number = kFirstDisplay; number <= kLastDisplay; ++number) {
        if (std::filesystem::exists(std::string("/tmp/.X").append(std::to_string(number)) + "-lock"))
            continue;
        // Appended to: GCC 12 warns falsely of a literal + a temporary string.
        const std::string name = std::string(":").append(std::to_string(number));
        auto server = ChildProcess::Start({"Xvfb", name, "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
        if (server && WaitUntilServing(*server, name))
            return std::unique_ptr<VirtualDisplay>(new VirtualDisplay(name, std::move(server)));
    }
    return nullptr;
}
