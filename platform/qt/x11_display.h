#pragma once
// Whether the X display that Qt is about to use can be reached. Qt itself aborts the program
// when it cannot, with a core-dump status and advice to reinstall that does not fit the cause.

#include <optional>
#include <string>

// Why the X display Qt will use cannot be reached, in one line that names it; nothing when it
// can, or when Qt will not use X11 (a Wayland session, the offscreen platform).
std::optional<std::string> X11DisplayProblem();
