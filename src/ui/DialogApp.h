// The application object of the module: which module's resources the
// dialogs load, and the title that captions its message boxes. The module
// derives its TransferApp from it; one instance registers itself at load.
#pragma once

#include <windows.h>

#include <string>

class DialogApp {
public:
    DialogApp();
    virtual ~DialogApp();
    DialogApp(const DialogApp&) = delete;
    DialogApp& operator=(const DialogApp&) = delete;

    // Called from the DLL entry under the loader lock: stores only.
    void Attach(HINSTANCE moduleHandle) { module = moduleHandle; }
    // The attached module, else the module that holds this code.
    HINSTANCE GetModule() const;
    // The module's file name without its extension. Worked out at first
    // use, outside the loader lock.
    const std::wstring& GetTitle();

    // The registered application, or null.
    static DialogApp* Current();
    // "C:\dir\imex.dll" gives "imex"; a dot in a directory name is not an extension.
    static std::wstring TitleFromPath(const std::wstring& path);

private:
    HINSTANCE module = nullptr;
    std::wstring title;
};

// Where the dialogs' templates come from: the application's module, or
// the module that holds this code when no application is registered.
HINSTANCE ResourceModule();
// Caption of the message boxes.
std::wstring ApplicationTitle();
