// imexhost: a small console host for imex.dll, for people and tests.
// It loads the DLL, calls ImEx on a record file and reports what happened:
// one "progress K/N" line per callback and a last "result R: <meaning>"
// line; the exit code is the result.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "imex.h"

namespace {

const char* ResultMeaning(int result) {
    switch (result) {
        case IMEX_RESULT_OK: return "done (every record handled, or the mode is not served)";
        case IMEX_RESULT_BUSY: return "busy: a transfer is already running in this process";
        case IMEX_RESULT_CANNOT_OPEN: return "the record file cannot be opened";
        case IMEX_RESULT_BAD_FILE: return "the record file is not valid";
        case IMEX_RESULT_NO_MEMORY: return "the record table cannot be allocated";
        case IMEX_RESULT_NOT_CONNECTED: return "no device connected";
        case IMEX_RESULT_NO_DEVICE: return "no device answered on COM1 or COM2";
        default: return "unknown result";
    }
}

void WINAPI OnProgress(int block, int blockCount) {
    std::printf("progress %d/%d\n", block, blockCount);
    std::fflush(stdout);
}

void Usage() {
    std::fprintf(stderr,
                 "usage: imexhost [--dll PATH] [--mode N] [--null-callback] RECORD_FILE\n"
                 "  Calls ImEx(0, 0, 0, RECORD_FILE, 0, mode, callback) from imex.dll\n"
                 "  (beside imexhost.exe unless --dll is given); --mode defaults to 1.\n"
                 "  Prints \"progress K/N\" per callback and \"result R: <meaning>\";\n"
                 "  exits with R (100 when the DLL cannot be loaded, 101 on bad usage).\n");
}

std::string DefaultDllPath() {
    char self[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string path(self, length);
    size_t slash = path.find_last_of("\\/");
    path = (slash == std::string::npos) ? std::string() : path.substr(0, slash + 1);
    return path + "imex.dll";
}

}  // namespace

int main(int argc, char** argv) {
    std::string dllPath;
    int mode = IMEX_MODE_TRANSFER;
    bool nullCallback = false;
    const char* recordFile = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--dll") == 0 && i + 1 < argc) {
            dllPath = argv[++i];
        } else if (std::strcmp(argv[i], "--mode") == 0 && i + 1 < argc) {
            mode = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--null-callback") == 0) {
            nullCallback = true;
        } else if (argv[i][0] == '-' && argv[i][1] == '-') {
            Usage();
            return 101;
        } else if (recordFile == nullptr) {
            recordFile = argv[i];
        } else {
            Usage();
            return 101;
        }
    }
    if (recordFile == nullptr) {
        Usage();
        return 101;
    }
    if (dllPath.empty()) dllPath = DefaultDllPath();

    HMODULE dll = LoadLibraryA(dllPath.c_str());
    if (dll == nullptr) {
        std::fprintf(stderr, "imexhost: cannot load %s (error %lu)\n", dllPath.c_str(),
                     GetLastError());
        return 100;
    }
    auto imEx = reinterpret_cast<IMEX_FUNCTION>(reinterpret_cast<void*>(GetProcAddress(dll, "ImEx")));
    if (imEx == nullptr) {
        std::fprintf(stderr, "imexhost: %s exports no ImEx\n", dllPath.c_str());
        FreeLibrary(dll);
        return 100;
    }

    int result = imEx(0, 0, 0, recordFile, 0, mode, nullCallback ? nullptr : OnProgress);
    std::printf("result %d: %s\n", result, ResultMeaning(result));
    std::fflush(stdout);
    FreeLibrary(dll);
    return result;
}
