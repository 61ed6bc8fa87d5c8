#include "LinkTestSupport.h"

#include <fstream>

#include "SerialLink.h"

WinLinkTestConfig g_testConfig;

namespace {

const char* const COMPLETION_WINDOW_CLASS = "ImexLinkTestCompletions";

}  // namespace

double NowMs()
{
    LARGE_INTEGER frequency;
    LARGE_INTEGER now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

bool RunningUnderWine()
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

CompletionWindow::CompletionWindow()
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = COMPLETION_WINDOW_CLASS;
    RegisterClassA(&windowClass);  // fails harmlessly when already registered
    window_ = CreateWindowExA(0, COMPLETION_WINDOW_CLASS, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
    if (window_ != nullptr) SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

CompletionWindow::~CompletionWindow()
{
    if (window_ != nullptr) DestroyWindow(window_);
}

LRESULT CALLBACK CompletionWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_LINK_DONE) {
        auto* self = reinterpret_cast<CompletionWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (self != nullptr) {
            Completion completion;
            completion.success = wParam;
            completion.message = reinterpret_cast<const uint8_t*>(lParam);
            completion.code = completion.message != nullptr ? completion.message[0] : 0;
            completion.atMs = NowMs();
            self->completions.push_back(completion);
            if (self->onCompletion) self->onCompletion(completion);
        }
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

bool CompletionWindow::WaitFor(size_t count, DWORD limitMs)
{
    const double deadline = NowMs() + limitMs;
    while (completions.size() < count) {
        const double left = deadline - NowMs();
        if (left <= 0) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left) + 1, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
    }
    return true;
}

void CompletionWindow::Pump(DWORD forMs)
{
    const double deadline = NowMs() + forMs;
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        const double left = deadline - NowMs();
        if (left <= 0) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left) + 1, QS_ALLINPUT);
    }
}

std::string LastLineOf(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string line;
    std::string last;
    while (std::getline(in, line)) {
        if (!line.empty()) last = line;
    }
    return last;
}

size_t LineCountOf(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string line;
    size_t count = 0;
    while (std::getline(in, line)) {
        if (!line.empty()) ++count;
    }
    return count;
}

std::string JsonField(const std::string& line, const std::string& key)
{
    const std::string tag = "\"" + key + "\":";
    const size_t at = line.find(tag);
    if (at == std::string::npos) return "";
    size_t start = at + tag.size();
    size_t end = start;
    if (start < line.size() && line[start] == '"') {
        ++start;
        end = line.find('"', start);
    } else {
        end = line.find_first_of(",}", start);
    }
    if (end == std::string::npos) return "";
    return line.substr(start, end - start);
}
