// imex.dll as a program loads it: its dialog templates, read from the
// DLL's own resources, and its export, which must clean up on every way
// out and leave no window or worker behind.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>

#include "DialogIds.h"
#include "UiTestSupport.h"
#include "imex.h"

namespace {

// RT_DIALOG is the narrow form in a build without UNICODE.
const LPCWSTR RT_DIALOG_W = MAKEINTRESOURCEW(5);
constexpr uint16_t BUTTON_ATOM = 0x0080;
constexpr uint16_t STATIC_ATOM = 0x0082;
constexpr DWORD TEMPLATE_STYLE_BITS = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | WS_VISIBLE;

std::wstring BesideThisProgram(const wchar_t* name) {
    wchar_t path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, length);
    dir.resize(dir.find_last_of(L"\\/") + 1);
    return dir + name;
}

class ImexModule : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        module = LoadLibraryW(BesideThisProgram(L"imex.dll").c_str());
    }
    static void TearDownTestSuite() {
        if (module != nullptr) FreeLibrary(module);
        module = nullptr;
    }
    void SetUp() override { ASSERT_NE(module, nullptr) << "imex.dll not found beside the test"; }

    static DialogTemplateInfo ReadTemplate(int id) {
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

void ExpectBox(const TemplateControl& c, int x, int y, int cx, int cy) {
    EXPECT_EQ(c.x, x);
    EXPECT_EQ(c.y, y);
    EXPECT_EQ(c.cx, cx);
    EXPECT_EQ(c.cy, cy);
}

void ExpectCommonWindow(const DialogTemplateInfo& t, int cx, int cy) {
    EXPECT_EQ(t.x, 0);
    EXPECT_EQ(t.y, 0);
    EXPECT_EQ(t.cx, cx);
    EXPECT_EQ(t.cy, cy);
    EXPECT_FALSE(t.hasMenu);
    EXPECT_FALSE(t.hasClass);
    EXPECT_TRUE(t.style & DS_SETFONT);
    EXPECT_EQ(t.pointSize, 10);
    EXPECT_EQ(t.fontName, L"System");
}

TEST_F(ImexModule, HostTemplateIsAHiddenCaptionedPopupWithTheWaitButton) {
    DialogTemplateInfo t = ReadTemplate(HOST_DIALOG_TEMPLATE);
    ExpectCommonWindow(t, 64, 28);
    EXPECT_EQ(t.style & TEMPLATE_STYLE_BITS, DWORD(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME));
    EXPECT_EQ(t.caption, L"Dialog");
    ASSERT_EQ(t.controls.size(), 1u);
    const TemplateControl& button = t.controls[0];
    EXPECT_EQ(button.id, 1);
    EXPECT_EQ(button.classAtom, BUTTON_ATOM);
    EXPECT_EQ(button.text, L"Wait...");
    EXPECT_EQ(button.style & 0x0F, DWORD(BS_DEFPUSHBUTTON));
    EXPECT_TRUE(button.style & WS_TABSTOP);
    EXPECT_TRUE(button.style & WS_VISIBLE);
    ExpectBox(button, 7, 7, 50, 14);
}

TEST_F(ImexModule, ConnectTemplateIsACaptionlessPopupReadingConnecting) {
    DialogTemplateInfo t = ReadTemplate(CONNECT_DIALOG_TEMPLATE);
    ExpectCommonWindow(t, 88, 41);
    EXPECT_EQ(t.style & TEMPLATE_STYLE_BITS, DWORD(WS_POPUP | DS_MODALFRAME));
    EXPECT_EQ(t.caption, L"");
    ASSERT_EQ(t.controls.size(), 1u);
    const TemplateControl& text = t.controls[0];
    EXPECT_EQ(text.id, CONNECT_STATUS_ID);
    EXPECT_EQ(text.classAtom, STATIC_ATOM);
    EXPECT_EQ(text.style & SS_TYPEMASK, DWORD(SS_LEFT));
    EXPECT_EQ(text.text, L"Connecting ...");
    ExpectBox(text, 22, 16, 53, 10);
}

TEST_F(ImexModule, TransferTemplateHasTheLabelAndAnEmptyPercentage) {
    DialogTemplateInfo t = ReadTemplate(TRANSFER_DIALOG_TEMPLATE);
    ExpectCommonWindow(t, 93, 48);
    EXPECT_EQ(t.style & TEMPLATE_STYLE_BITS, DWORD(WS_POPUP | DS_MODALFRAME));
    EXPECT_EQ(t.caption, L"");
    ASSERT_EQ(t.controls.size(), 2u);
    const TemplateControl& label = t.controls[0];
    EXPECT_EQ(label.id, TRANSFER_LABEL_ID);
    EXPECT_EQ(label.classAtom, STATIC_ATOM);
    EXPECT_EQ(label.text, L"Transfering ...");
    ExpectBox(label, 24, 13, 56, 13);
    const TemplateControl& percent = t.controls[1];
    EXPECT_EQ(percent.id, TRANSFER_PERCENT_ID);
    EXPECT_EQ(percent.classAtom, STATIC_ATOM);
    EXPECT_EQ(percent.text, L"");
    ExpectBox(percent, 40, 25, 37, 16);
}

TEST_F(ImexModule, ExportsImExByNameAndOrdinalOne) {
    FARPROC byName = GetProcAddress(module, "ImEx");
    ASSERT_NE(byName, nullptr);
    EXPECT_EQ(byName, GetProcAddress(module, MAKEINTRESOURCEA(1)));
}

int progressCalls = 0;
void WINAPI CountProgress(int, int) { ++progressCalls; }

BOOL CALLBACK CountWindow(HWND, LPARAM count) {
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

int CountThreadWindows() {
    int count = 0;
    EnumThreadWindows(GetCurrentThreadId(), CountWindow, reinterpret_cast<LPARAM>(&count));
    return count;
}

IMEX_FUNCTION LookUpImEx(HMODULE module) {
    // FARPROC stands for any signature; the export's own is IMEX_FUNCTION.
    return reinterpret_cast<IMEX_FUNCTION>(reinterpret_cast<void (*)()>(GetProcAddress(module, "ImEx")));
}

TEST_F(ImexModule, RefusedModeAndMissingFileTouchNothing) {
    IMEX_FUNCTION imEx = LookUpImEx(module);
    ASSERT_NE(imEx, nullptr);
    progressCalls = 0;
    int windows = CountThreadWindows();
    EXPECT_EQ(imEx(0, 0, 0, "Z:\\no\\such\\file.dat", 0, 0, CountProgress), IMEX_RESULT_OK);
    EXPECT_EQ(imEx(0, 0, 0, "Z:\\no\\such\\file.dat", 0, 1, CountProgress), IMEX_RESULT_CANNOT_OPEN);
    EXPECT_EQ(progressCalls, 0);
    EXPECT_EQ(CountThreadWindows(), windows);
}

TEST_F(ImexModule, NoDeviceOnEitherPortGivesSevenAndLeavesNothingBehind) {
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
