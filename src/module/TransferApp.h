// The module's application object: the DLL entry attaches it to the module
// at load, which makes the module's resources the dialogs' and its file
// name (without extension) the title of the message boxes.
#pragma once

#include <windows.h>

#include "ResourceModule.h"

class TransferApp {
public:
    void Attach(HINSTANCE module) { SetResourceModule(module); }
};
