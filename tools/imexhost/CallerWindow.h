// --owner-window: the visible, active window of a desktop program that
// calls ImEx, so that the DLL's dialogs end up owned by it.
#pragma once

#include <windows.h>

extern HWND callerWindow;  // the caller's own visible top-level window
extern HWND callerMain;    // nested: the main window behind it

// Creates callerWindow (and callerMain when nested); null on failure.
HWND CreateCallerWindow();
// Logs the windows' state after the calls and destroys them.
void CloseCallerWindow();
