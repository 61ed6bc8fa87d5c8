// A text given on the command line, as UTF-8: POSIX programs get UTF-8
// already; Windows hands them the ANSI code page's bytes (ArgumentTextPosix.cpp,
// ArgumentTextWin32.cpp).
#pragma once

#include <string>

std::string ArgumentToUtf8(const std::string& argument);
