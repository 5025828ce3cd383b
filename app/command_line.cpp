#include "app/command_line.h"

#include <cstdio>

namespace {
constexpr int kUsageError = 2;

constexpr const char* kUsage = "Usage: varnek [-h | --help | --version]\n"
                               "A MIDI keyboard with General MIDI instruments and automatic backings.\n"
                               "It takes no settings; see varnek(1) for the keyboard map and the\n"
                               "soundfonts it looks for.\n";
} // namespace

std::optional<int> AnswerCommandLine(int argc, char** argv, std::string_view version)
{
    if (argc < 2)
        return std::nullopt;
    const std::string_view argument = argv[1];
    // A session manager that restores the desktop at login starts the program again the way Qt
    // registered it, with the session's name: Qt's to take, not a setting.
    if (argc == 3 && argument == "-session")
        return std::nullopt;
    const auto isHelp = [](std::string_view text) { return text == "--help" || text == "-h"; };
    if (argc == 2 && isHelp(argument)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc == 2 && argument == "--version") {
        std::printf("varnek %.*s\n", static_cast<int>(version.size()), version.data());
        return 0;
    }
    const std::string_view unknown = isHelp(argument) || argument == "--version" ? argv[2] : argument;
    std::fprintf(stderr, "varnek: unknown argument '%.*s' (varnek --help lists what it takes)\n",
                 static_cast<int>(unknown.size()), unknown.data());
    return kUsageError;
}
