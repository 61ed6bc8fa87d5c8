// imex.dll as a host program meets it: loaded from disk, looked up by name
// and by ordinal, called through a pointer with the stdcall convention.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "imex.h"

namespace {

std::string ExeDirectory()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path, length);
    return dir.substr(0, dir.find_last_of("\\/") + 1);
}

std::string TempPath(const char* name)
{
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    return std::string(dir) + name;
}

void WriteFileBytes(const std::string& path, const void* data, DWORD size)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, data, size, &written, nullptr));
    ASSERT_EQ(written, size);
    CloseHandle(file);
}

template <typename T>
T ProcAs(FARPROC proc)
{
    return reinterpret_cast<T>(reinterpret_cast<void*>(proc));
}

class ImExDll : public ::testing::Test {
protected:
    void SetUp() override
    {
        dll = LoadLibraryA((ExeDirectory() + "imex.dll").c_str());
        ASSERT_NE(dll, nullptr) << "imex.dll beside the test program, error " << GetLastError();
        imEx = ProcAs<IMEX_FUNCTION>(GetProcAddress(dll, "ImEx"));
        ASSERT_NE(imEx, nullptr);
    }
    void TearDown() override
    {
        if (dll != nullptr) FreeLibrary(dll);
    }

    HMODULE dll = nullptr;
    IMEX_FUNCTION imEx = nullptr;
};

#if defined(__i386__)
// Pushes the seven arguments itself, calls, and reports how far the stack
// pointer moved across the call: 0 when the callee removed its 28 bytes.
template <int MODE>
int CallMeasuringStack(IMEX_FUNCTION function, const char* path, int32_t* stackDelta)
{
    int result;
    int32_t delta;
    __asm__ volatile(
        "movl %%esp, %%esi\n\t"
        "pushl $0\n\t"       // progress callback
        "pushl %[mode]\n\t"  // mode
        "pushl $0\n\t"       // argument 5
        "pushl %%edi\n\t"    // path
        "pushl $0\n\t"       // argument 3
        "pushl $0\n\t"       // argument 2
        "pushl $0\n\t"       // argument 1
        "call *%%ebx\n\t"
        "movl %%esp, %%ecx\n\t"
        "subl %%esi, %%ecx\n\t"
        "movl %%esi, %%esp\n\t"  // put the stack back whatever the callee did
        : "=a"(result), "=c"(delta)
        : "b"(function), "D"(path), [mode] "i"(MODE)
        : "esi", "edx", "memory", "cc");
    *stackDelta = delta;
    return result;
}
#endif

}  // namespace

#if defined(__x86_64__)
// CallCheck64.S: a Win64 call with patterned callee-saved registers.
extern "C" int CallImExChecked(IMEX_FUNCTION function, const char* path, int mode, unsigned* changed);
#endif

TEST_F(ImExDll, IsExportedByNameAndAtOrdinalOne)
{
    FARPROC byOrdinal = GetProcAddress(dll, MAKEINTRESOURCEA(1));
    EXPECT_EQ(ProcAs<IMEX_FUNCTION>(byOrdinal), imEx);
    // Only the undecorated name is exported.
    EXPECT_EQ(GetProcAddress(dll, "ImEx@28"), nullptr);
    EXPECT_EQ(GetProcAddress(dll, "_ImEx@28"), nullptr);
    EXPECT_EQ(GetProcAddress(dll, MAKEINTRESOURCEA(2)), nullptr);
}

#if defined(__i386__)
TEST_F(ImExDll, RemovesItsTwentyEightBytesOfArguments)
{
    int32_t delta = -1;
    EXPECT_EQ(CallMeasuringStack<0>(imEx, "Z:\\no\\such\\file.rec", &delta), IMEX_RESULT_OK);
    EXPECT_EQ(delta, 0) << "mode 0: the stack pointer moved by " << delta << " bytes";
    delta = -1;
    EXPECT_EQ(CallMeasuringStack<1>(imEx, "Z:\\no\\such\\file.rec", &delta), IMEX_RESULT_CANNOT_OPEN);
    EXPECT_EQ(delta, 0) << "mode 1: the stack pointer moved by " << delta << " bytes";
}
#elif defined(__x86_64__)
TEST_F(ImExDll, KeepsTheStackPointerAndCalleeSavedRegisters)
{
    // Bit 0 the stack pointer, then rbx, rbp, rdi, rsi, r12-r15, xmm6, xmm15.
    unsigned changed = 0xFFFFFFFFu;
    EXPECT_EQ(CallImExChecked(imEx, "Z:\\no\\such\\file.rec", 0, &changed), IMEX_RESULT_OK);
    EXPECT_EQ(changed, 0u) << "mode 0: registers changed across the call, mask 0x" << std::hex << changed;
    changed = 0xFFFFFFFFu;
    EXPECT_EQ(CallImExChecked(imEx, "Z:\\no\\such\\file.rec", 1, &changed), IMEX_RESULT_CANNOT_OPEN);
    EXPECT_EQ(changed, 0u) << "mode 1: registers changed across the call, mask 0x" << std::hex << changed;
}
#endif

TEST_F(ImExDll, ModesOtherThanOneReturnZeroWithoutTouchingTheFile)
{
    const std::string missing = TempPath("imex-missing.rec");
    DeleteFileA(missing.c_str());
    EXPECT_EQ(imEx(0, 0, 0, missing.c_str(), 0, 0, nullptr), IMEX_RESULT_OK);
    EXPECT_EQ(imEx(0, 0, 0, missing.c_str(), 0, 2, nullptr), IMEX_RESULT_OK);
    EXPECT_EQ(imEx(0, 0, 0, missing.c_str(), 0, -1, nullptr), IMEX_RESULT_OK);
    // The same call in mode 1 does look at the file.
    EXPECT_EQ(imEx(0, 0, 0, missing.c_str(), 0, 1, nullptr), IMEX_RESULT_CANNOT_OPEN);
}

TEST_F(ImExDll, FileThatCannotBeOpenedGivesTwo)
{
    EXPECT_EQ(imEx(0, 0, 0, "Z:\\no\\such\\dir\\file.rec", 0, 1, nullptr), IMEX_RESULT_CANNOT_OPEN);
    EXPECT_EQ(imEx(0, 0, 0, nullptr, 0, 1, nullptr), IMEX_RESULT_CANNOT_OPEN);
}

TEST_F(ImExDll, FileHeldWithoutSharingGivesTwo)
{
    const std::string path = TempPath("imex-held.rec");
    const uint8_t bytes[] = {0x00, 0x00, 0x00, 0x00, 0xFF, 0xAA, 0xFF, 0xBA};
    WriteFileBytes(path, bytes, sizeof bytes);
    HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(imEx(0, 0, 0, path.c_str(), 0, 1, nullptr), IMEX_RESULT_CANNOT_OPEN);
    CloseHandle(held);
    // Released again, the same file is read and found to lack the trailer.
    EXPECT_EQ(imEx(0, 0, 0, path.c_str(), 0, 1, nullptr), IMEX_RESULT_BAD_FILE);
    DeleteFileA(path.c_str());
}

TEST_F(ImExDll, FileWithoutTrailerMagicGivesThreeAndIsClosedAgain)
{
    const std::string path = TempPath("imex-bad-trailer.rec");
    // A valid trailer with its last byte changed: FF AA FF BA.
    const uint8_t bytes[] = {0xAA, 0xBB, 0x55, 0x44, 0x01, 0x00, 0x00, 0x00, 0xFF, 0xAA, 0xFF, 0xBA};
    WriteFileBytes(path, bytes, sizeof bytes);
    EXPECT_EQ(imEx(0, 0, 0, path.c_str(), 0, 1, nullptr), IMEX_RESULT_BAD_FILE);
    // The check opened the file without sharing; it must have closed it.
    HANDLE again = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(again, INVALID_HANDLE_VALUE) << "the trailer check left the file open";
    if (again != INVALID_HANDLE_VALUE) CloseHandle(again);
    DeleteFileA(path.c_str());
}

TEST_F(ImExDll, FileShorterThanItsTrailerGivesThree)
{
    const std::string path = TempPath("imex-short.rec");
    // Up to 7 bytes there is no room for a count and the magic, even when
    // the magic itself is there.
    const std::vector<std::vector<uint8_t>> files = {
        {}, {0xBB}, {0xFF, 0xAA, 0xFF, 0xBB}, {0x00, 0x00, 0x00, 0xFF, 0xAA, 0xFF, 0xBB}};
    for (const auto& bytes : files) {
        WriteFileBytes(path, bytes.data(), static_cast<DWORD>(bytes.size()));
        EXPECT_EQ(imEx(0, 0, 0, path.c_str(), 0, 1, nullptr), IMEX_RESULT_BAD_FILE)
            << "file of " << bytes.size() << " bytes";
    }
    DeleteFileA(path.c_str());
}
