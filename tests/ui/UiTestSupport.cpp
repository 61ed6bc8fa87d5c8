#include "UiTestSupport.h"

#include <tlhelp32.h>

int CountProcessThreads()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    int count = 0;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    DWORD self = GetCurrentProcessId();
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == self) ++count;
    }
    CloseHandle(snapshot);
    return count;
}

int WaitForThreadCount(int count, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    int seen = CountProcessThreads();
    while (seen > count && GetTickCount() - start < timeoutMs) {
        Sleep(10);
        seen = CountProcessThreads();
    }
    return seen;
}

MessageBoxWatcher::MessageBoxWatcher(DWORD uiThread, DWORD timeoutMs) : uiThread(uiThread), timeoutMs(timeoutMs)
{
    thread = CreateThread(nullptr, 0, Run, this, 0, nullptr);
}

MessageBoxWatcher::~MessageBoxWatcher()
{
    Finish();
}

SeenMessageBox MessageBoxWatcher::Finish()
{
    if (thread != nullptr) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        thread = nullptr;
    }
    return seen;
}

namespace {

struct BoxSearch {
    HWND box = nullptr;
};

BOOL CALLBACK FindBox(HWND window, LPARAM context)
{
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    // A message box is a dialog whose OK button has the id IDOK and whose
    // text sits in a static control; the test's own dialogs have no IDOK
    // button except the host's, which is never visible.
    if (std::wstring(className) == L"#32770" && IsWindowVisible(window) && GetDlgItem(window, IDOK) != nullptr) {
        reinterpret_cast<BoxSearch*>(context)->box = window;
        return FALSE;
    }
    return TRUE;
}

std::wstring WindowText(HWND window)
{
    wchar_t text[1024] = {};
    GetWindowTextW(window, text, 1024);
    return text;
}

BOOL CALLBACK ReadBoxChild(HWND child, LPARAM context)
{
    auto* seen = reinterpret_cast<SeenMessageBox*>(context);
    wchar_t className[64] = {};
    GetClassNameW(child, className, 64);
    std::wstring kind = className;
    if (kind == L"Button") {
        ++seen->buttonCount;
    } else if (kind == L"Static") {
        if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
            seen->hasIcon = true;
        } else if (GetWindowTextLengthW(child) > 0) {
            seen->text = WindowText(child);
        }
    }
    return TRUE;
}

}  // namespace

DWORD WINAPI MessageBoxWatcher::Run(LPVOID self)
{
    auto* watcher = static_cast<MessageBoxWatcher*>(self);
    DWORD start = GetTickCount();
    while (GetTickCount() - start < watcher->timeoutMs) {
        BoxSearch search;
        EnumThreadWindows(watcher->uiThread, FindBox, reinterpret_cast<LPARAM>(&search));
        if (search.box != nullptr) {
            SeenMessageBox& seen = watcher->seen;
            seen.found = true;
            seen.owner = GetWindow(search.box, GW_OWNER);
            seen.caption = WindowText(search.box);
            EnumChildWindows(search.box, ReadBoxChild, reinterpret_cast<LPARAM>(&seen));
            PostMessageW(search.box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(search.box, IDOK)));
            return 0;
        }
        Sleep(10);
    }
    return 1;
}

namespace {

class TemplateReader {
public:
    TemplateReader(const void* data, size_t size) : bytes(static_cast<const uint8_t*>(data)), size(size) {}

    bool Word(uint16_t& value)
    {
        if (at + 2 > size) return false;
        value = static_cast<uint16_t>(bytes[at] | (bytes[at + 1] << 8));
        at += 2;
        return true;
    }
    bool Dword(uint32_t& value)
    {
        uint16_t low, high;
        if (!Word(low) || !Word(high)) return false;
        value = low | (static_cast<uint32_t>(high) << 16);
        return true;
    }
    bool Short(int16_t& value)
    {
        uint16_t word;
        if (!Word(word)) return false;
        value = static_cast<int16_t>(word);
        return true;
    }
    bool String(std::wstring& text)
    {
        text.clear();
        for (uint16_t c; Word(c);) {
            if (c == 0) return true;
            text += static_cast<wchar_t>(c);
        }
        return false;
    }
    // A name or an ordinal (0xFFFF then the number); `present` false for 0.
    bool NameOrOrdinal(bool& present, uint16_t& ordinal, std::wstring& name)
    {
        uint16_t first;
        ordinal = 0;
        name.clear();
        if (!Word(first)) return false;
        present = first != 0;
        if (first == 0) return true;
        if (first == 0xFFFF) return Word(ordinal);
        name += static_cast<wchar_t>(first);
        std::wstring rest;
        if (!String(rest)) return false;
        name += rest;
        return true;
    }
    void AlignToDword() { at = (at + 3) & ~static_cast<size_t>(3); }

private:
    const uint8_t* bytes;
    size_t size;
    size_t at = 0;
};

}  // namespace

bool ParseDialogTemplate(const void* data, size_t size, DialogTemplateInfo& out)
{
    TemplateReader in(data, size);
    uint32_t exStyle;
    uint16_t count, ordinal;
    std::wstring name;
    if (!in.Dword(out.style) || !in.Dword(exStyle) || !in.Word(count) || !in.Short(out.x) || !in.Short(out.y) ||
        !in.Short(out.cx) || !in.Short(out.cy)) {
        return false;
    }
    if (out.style == 0xFFFF0001) return false;  // an extended template is not what we build
    if (!in.NameOrOrdinal(out.hasMenu, ordinal, name)) return false;
    if (!in.NameOrOrdinal(out.hasClass, ordinal, name)) return false;
    if (!in.String(out.caption)) return false;
    if (out.style & DS_SETFONT) {
        if (!in.Word(out.pointSize) || !in.String(out.fontName)) return false;
    }
    for (uint16_t i = 0; i < count; ++i) {
        in.AlignToDword();
        TemplateControl control;
        bool present;
        uint16_t extra;
        if (!in.Dword(control.style) || !in.Dword(exStyle) || !in.Short(control.x) || !in.Short(control.y) ||
            !in.Short(control.cx) || !in.Short(control.cy) || !in.Word(control.id)) {
            return false;
        }
        if (!in.NameOrOrdinal(present, control.classAtom, control.className)) return false;
        uint16_t textOrdinal;
        if (!in.NameOrOrdinal(present, textOrdinal, control.text)) return false;
        if (!in.Word(extra)) return false;
        // Creation data, when there is any, counts its own size word.
        for (uint16_t skipped = 2; extra >= 2 && skipped < extra; skipped += 2) {
            uint16_t word;
            if (!in.Word(word)) return false;
        }
        out.controls.push_back(control);
    }
    return true;
}

std::wstring ControlText(HWND dialog, int controlId)
{
    HWND control = dialog ? GetDlgItem(dialog, controlId) : nullptr;
    if (control == nullptr) return std::wstring();
    int length = GetWindowTextLengthW(control);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    int copied = GetWindowTextW(control, &text[0], length + 1);
    text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
    return text;
}
