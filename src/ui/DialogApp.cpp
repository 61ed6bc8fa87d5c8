#include "DialogApp.h"

namespace {

DialogApp* currentApp = nullptr;

HINSTANCE ModuleOfThisCode() {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&ModuleOfThisCode), &module)) {
        return nullptr;
    }
    return module;
}

std::wstring ModuleFileName(HINSTANCE module) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = GetModuleFileNameW(module, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0) return std::wstring();
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        // Truncated: try again with room to spare.
        path.resize(path.size() * 2);
    }
}

}  // namespace

DialogApp::DialogApp() {
    if (currentApp == nullptr) currentApp = this;
}

DialogApp::~DialogApp() {
    if (currentApp == this) currentApp = nullptr;
}

HINSTANCE DialogApp::GetModule() const {
    return module ? module : ModuleOfThisCode();
}

const std::wstring& DialogApp::GetTitle() {
    if (title.empty()) title = TitleFromPath(ModuleFileName(GetModule()));
    return title;
}

DialogApp* DialogApp::Current() {
    return currentApp;
}

std::wstring DialogApp::TitleFromPath(const std::wstring& path) {
    size_t nameStart = path.find_last_of(L"\\/");
    std::wstring name = nameStart == std::wstring::npos ? path : path.substr(nameStart + 1);
    size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos && dot > 0) name.resize(dot);
    return name;
}

HINSTANCE ResourceModule() {
    DialogApp* app = DialogApp::Current();
    return app ? app->GetModule() : ModuleOfThisCode();
}

std::wstring ApplicationTitle() {
    DialogApp* app = DialogApp::Current();
    return app ? app->GetTitle() : DialogApp::TitleFromPath(ModuleFileName(ModuleOfThisCode()));
}
