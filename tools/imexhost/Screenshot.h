// A window's pixels, as the screen shows them, saved as a BMP file.
#pragma once

#include <windows.h>

#include <string>

bool SaveScreenshot(HWND window, const std::string& path);
