#pragma once
// The few things the user must know and no window says, such as why the sound could not start,
// go to standard error, one line each, starting "varnek: ".

#include <string>

void TellUser(const std::string& line);
