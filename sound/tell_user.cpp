#include "sound/tell_user.h"

#include <cstdio>

void TellUser(const std::string& line) { std::fprintf(stderr, "varnek: %s\n", line.c_str()); }
