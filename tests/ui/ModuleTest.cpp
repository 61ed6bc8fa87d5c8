// imex.dll as a program loads it: its dialog templates, read from the
// DLL's own resources, and calls that must clean up on every way out and
// leave no window or worker behind. (The export itself is checked by the
// harness suite.)
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "DialogIds.h"
#include "UiTestSupport.h"
#include "imex.h"

namespace {

// RT_DIALOG is the narrow form in a build without UNICODE.
const LPCWSTR RT_DIALOG_W = MAKEINTRESOURCEW(5);
constexpr uint16_t BUTTON_ATOM = 0x0080;
constexpr uint16_t STATIC_ATOM = 0x0082;
constexpr DWORD TEMPLATE_STYLE_BITS = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | WS_VISIBLE;

std::wstring BesideThisProgram(const wchar_t* name)
{
    wchar_t path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, length);
    dir.resize(dir.find_last_of(L"\\/") + 1);
    return dir + name;
}

class ImexModule : public ::testing::Test {
protected:
    static void SetUpTestSuite() { module = LoadLibraryW(BesideThisProgram(L"imex.dll").c_str()); }
    static void TearDownTestSuite()
    {
        if (module != nullptr) FreeLibrary(module);
        module = nullptr;
    }
    void SetUp() override { ASSERT_NE(module, nullptr) << "imex.dll not found beside the test"; }

    static DialogTemplateInfo ReadTemplate(int id)
    {
        DialogTemplateInfo info;
        HRSRC found = FindResourceExW(module, RT_DIALOG_W, MAKEINTRESOURCEW(id),
                                      MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED));
        EXPECT_NE(found, nullptr) << "template " << id << " in Chinese (PRC)";
        if (found == nullptr) return info;
        HGLOBAL loaded = LoadResource(module, found);
        const void* data = LockResource(loaded);
        EXPECT_TRUE(ParseDialogTemplate(data, SizeofResource(module, found), info)) << id;
        return info;
    }

    static HMODULE module;
};
HMODULE ImexModule::module = nullptr;

// What the code and the user rely on in each template: the window's kind
// (hidden host, captionless modal popups), its size, the font it carries,
// and every control the code addresses by id with its class, text and
// place. Each template is compared as one line, so a difference shows whole.
struct ControlSpec {
    int id;
    uint16_t classAtom;
    const wchar_t* text;
    int x, y, cx, cy;
};
struct TemplateSpec {
    int id;
    DWORD style;  // of TEMPLATE_STYLE_BITS
    const wchar_t* caption;
    int cx, cy;
    std::vector<ControlSpec> controls;
};

std::wstring Describe(const DialogTemplateInfo& t)
{
    std::wstring out = L"style " + std::to_wstring(t.style & TEMPLATE_STYLE_BITS) + L" caption \"" + t.caption +
                       L"\" at " + std::to_wstring(t.x) + L"," + std::to_wstring(t.y) + L" size " +
                       std::to_wstring(t.cx) + L"x" + std::to_wstring(t.cy) + L" font " + t.fontName + L" " +
                       std::to_wstring(t.pointSize) + (t.hasMenu ? L" menu" : L"") + (t.hasClass ? L" class" : L"");
    for (const TemplateControl& c : t.controls) {
        out += L" | id " + std::to_wstring(c.id) + L" class " + std::to_wstring(c.classAtom) + L" \"" + c.text +
               L"\" " + std::to_wstring(c.x) + L"," + std::to_wstring(c.y) + L" " + std::to_wstring(c.cx) + L"x" +
               std::to_wstring(c.cy);
    }
    return out;
}

std::wstring Describe(const TemplateSpec& wanted)
{
    DialogTemplateInfo t;
    t.style = wanted.style;
    t.caption = wanted.caption;
    t.cx = static_cast<int16_t>(wanted.cx);
    t.cy = static_cast<int16_t>(wanted.cy);
    t.fontName = L"System";
    t.pointSize = 10;
    for (const ControlSpec& c : wanted.controls) {
        TemplateControl control;
        control.id = static_cast<uint16_t>(c.id);
        control.classAtom = c.classAtom;
        control.text = c.text;
        control.x = static_cast<int16_t>(c.x);
        control.y = static_cast<int16_t>(c.y);
        control.cx = static_cast<int16_t>(c.cx);
        control.cy = static_cast<int16_t>(c.cy);
        t.controls.push_back(control);
    }
    return Describe(t);
}

TEST_F(ImexModule, TemplatesHoldTheWindowsAndControlsTheDialogsUse)
{
    const std::vector<TemplateSpec> specs = {
        {HOST_DIALOG_TEMPLATE,
         WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
         L"Dialog",
         64,
         28,
         {{IDOK, BUTTON_ATOM, L"Wait...", 7, 7, 50, 14}}},
        {CONNECT_DIALOG_TEMPLATE,
         WS_POPUP | DS_MODALFRAME,
         L"",
         88,
         41,
         {{CONNECT_STATUS_ID, STATIC_ATOM, L"Connecting ...", 22, 16, 53, 10}}},
        {TRANSFER_DIALOG_TEMPLATE,
         WS_POPUP | DS_MODALFRAME,
         L"",
         93,
         48,
         {{TRANSFER_LABEL_ID, STATIC_ATOM, L"Transfering ...", 24, 13, 56, 13},
          {TRANSFER_PERCENT_ID, STATIC_ATOM, L"", 40, 25, 37, 16}}},
    };
    for (const TemplateSpec& expected : specs) {
        DialogTemplateInfo t = ReadTemplate(expected.id);
        EXPECT_EQ(Describe(t), Describe(expected)) << "template " << expected.id;
        EXPECT_TRUE(t.style & DS_SETFONT) << "template " << expected.id << " carries no font";
        for (const TemplateControl& c : t.controls)
            EXPECT_TRUE(c.style & WS_VISIBLE) << "control " << c.id;
    }
    // The host's one button is the default push button; the connection
    // status is a left-aligned static.
    DialogTemplateInfo host = ReadTemplate(HOST_DIALOG_TEMPLATE);
    ASSERT_EQ(host.controls.size(), 1u);
    EXPECT_EQ(host.controls[0].style & 0x0F, DWORD(BS_DEFPUSHBUTTON));
    EXPECT_TRUE(host.controls[0].style & WS_TABSTOP);
    DialogTemplateInfo connect = ReadTemplate(CONNECT_DIALOG_TEMPLATE);
    ASSERT_EQ(connect.controls.size(), 1u);
    EXPECT_EQ(connect.controls[0].style & SS_TYPEMASK, DWORD(SS_LEFT));
}

int progressCalls = 0;
void WINAPI CountProgress(int, int)
{
    ++progressCalls;
}

BOOL CALLBACK CountWindow(HWND, LPARAM count)
{
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

int CountThreadWindows()
{
    int count = 0;
    EnumThreadWindows(GetCurrentThreadId(), CountWindow, reinterpret_cast<LPARAM>(&count));
    return count;
}

IMEX_FUNCTION LookUpImEx(HMODULE module)
{
    // FARPROC stands for any signature; the export's own is IMEX_FUNCTION.
    return reinterpret_cast<IMEX_FUNCTION>(reinterpret_cast<void (*)()>(GetProcAddress(module, "ImEx")));
}

TEST_F(ImexModule, RefusedModeAndMissingFileTouchNothing)
{
    IMEX_FUNCTION imEx = LookUpImEx(module);
    ASSERT_NE(imEx, nullptr);
    progressCalls = 0;
    int windows = CountThreadWindows();
    EXPECT_EQ(imEx(0, 0, 0, "Z:\\no\\such\\file.dat", 0, 0, CountProgress), IMEX_RESULT_OK);
    EXPECT_EQ(imEx(0, 0, 0, "Z:\\no\\such\\file.dat", 0, 1, CountProgress), IMEX_RESULT_CANNOT_OPEN);
    EXPECT_EQ(progressCalls, 0);
    EXPECT_EQ(CountThreadWindows(), windows);
}

TEST_F(ImexModule, NoDeviceOnEitherPortGivesSevenAndLeavesNothingBehind)
{
    IMEX_FUNCTION imEx = LookUpImEx(module);
    ASSERT_NE(imEx, nullptr);
    // A valid file of no blocks: a connection is still needed.
    wchar_t dir[MAX_PATH] = {}, wide[MAX_PATH] = {};
    ASSERT_NE(GetTempPathW(MAX_PATH, dir), 0u);
    ASSERT_NE(GetTempFileNameW(dir, L"imx", 0, wide), 0u);
    char path[MAX_PATH] = {};
    ASSERT_GT(WideCharToMultiByte(CP_ACP, 0, wide, -1, path, MAX_PATH, nullptr, nullptr), 0);
    const unsigned char trailer[8] = {0, 0, 0, 0, 0xFF, 0xAA, 0xFF, 0xBB};
    FILE* file = std::fopen(path, "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(std::fwrite(trailer, 1, sizeof trailer, file), sizeof trailer);
    std::fclose(file);

    int threads = CountProcessThreads();
    int windows = CountThreadWindows();
    progressCalls = 0;
    int result = imEx(0, 0, 0, path, 0, 1, CountProgress);
    DeleteFileW(wide);
    EXPECT_EQ(result, IMEX_RESULT_NO_DEVICE);
    EXPECT_EQ(progressCalls, 0);
    EXPECT_EQ(CountThreadWindows(), windows) << "the host window outlived the call";
    EXPECT_EQ(WaitForThreadCount(threads, 2000), threads) << "a link worker outlived the call";
}

}  // namespace
