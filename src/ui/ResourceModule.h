// The module the dialogs belong to: its resources hold their templates and
// its file name captions their message boxes. The DLL entry sets it at
// load; left unset it is the program itself, as for a test program that
// links the dialogs in.
#pragma once

#include <windows.h>

#include <string>

// Called from the DLL entry under the loader lock: stores only.
void SetResourceModule(HINSTANCE module);
HINSTANCE ResourceModule();
// The caption of the message boxes: the module's file name without its
// extension, as Windows programs title theirs by default.
std::wstring ApplicationTitle();
// "C:\dir\imex.dll" gives "imex"; a dot in a directory name is not an extension.
std::wstring TitleFromPath(const std::wstring& path);
