#pragma once
// Varnek takes no settings; its command line answers only the two questions every program
// answers, and refuses anything else before the desktop or a sound server is touched.

#include <optional>
#include <string_view>

// Answers --help and --version on standard output, and names any other argument on standard
// error; only the -session with which a session manager restores the program passes, to Qt.
// Gives the exit status when the program is to end here; nothing when it is to start.
std::optional<int> AnswerCommandLine(int argc, char** argv, std::string_view version);
