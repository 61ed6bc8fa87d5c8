// The DLL entry. It runs under the loader lock, so it only records the
// module handle: no thread, window or port work here. The static objects
// are constructed before it is called and destroyed after it.
#include <windows.h>

#include "ModuleObjects.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        transferApp.Attach(instance);
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}
