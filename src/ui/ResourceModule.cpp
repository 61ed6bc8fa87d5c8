#include "ResourceModule.h"

namespace {

HINSTANCE resourceModule = nullptr;

std::wstring ModuleFileName(HINSTANCE module)
{
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

void SetResourceModule(HINSTANCE module)
{
    resourceModule = module;
}

HINSTANCE ResourceModule()
{
    return resourceModule;
}

std::wstring ApplicationTitle()
{
    return TitleFromPath(ModuleFileName(resourceModule));
}

std::wstring TitleFromPath(const std::wstring& path)
{
    size_t nameStart = path.find_last_of(L"\\/");
    std::wstring name = nameStart == std::wstring::npos ? path : path.substr(nameStart + 1);
    size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos && dot > 0) name.resize(dot);
    return name;
}
