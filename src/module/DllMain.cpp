// The DLL entry. It runs under the loader lock, so it only records the
// module handle: no thread, window or port work here. The static objects
// are constructed before it is called and destroyed after it.
//
// Thread notifications stay on: the loader refuses DisableThreadLibraryCalls
// for a module with thread-local storage, as the static C++ runtime gives
// this one (Wine answers FALSE, error 126), and that runtime's own TLS
// callbacks need them. Every worker thread therefore passes through here
// twice, which costs nothing: the entry returns at once.
#include <windows.h>

#include "ModuleObjects.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        transferApp.Attach(instance);
    }
    return TRUE;
}
