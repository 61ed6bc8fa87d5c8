// imexcheck: does imex.dll behave on this Windows and its serial driver?
// With COM1 and COM2 joined by a null-modem, it runs the simulated device
// (pdasim.exe) on COM2 with the faults each scenario needs and a host
// (imexhost.exe) calling ImEx through the DLL, and compares what the device
// logged with what the DLL reported: one line per scenario, then what a bug
// report needs to know of the machine, and "K/N scenarios passed".
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "CheckScenarios.h"
#include "ChildProcess.h"
#include "MachineFacts.h"
#include "PortPair.h"

namespace {

constexpr int EXIT_ALL_PASSED = 0;
constexpr int EXIT_SOME_FAILED = 1;
constexpr int EXIT_USAGE = 2;
constexpr int EXIT_MISSING_PROGRAM = 3;

const char USAGE[] =
    "usage: imexcheck [--dll PATH] [--report FILE] [--scenario NAME]...\n"
    "  Checks imex.dll on this machine's COM1 and COM2, which a null-modem must join (a com0com pair,\n"
    "  or two adapters and a null-modem cable): pdasim.exe plays the device on COM2, imexhost.exe\n"
    "  calls ImEx, which finds the device through COM1. Takes about a minute.\n"
    "  --dll PATH     the imex.dll to check (default: the release's bin\\imex.dll, or the one beside\n"
    "                 imexcheck.exe)\n"
    "  --report FILE  also writes what it prints to FILE, to attach to a bug report\n"
    "  --scenario NAME  runs only this scenario (again for more): to try one that failed once more\n"
    "  --help         this text\n"
    "  Prints \"ok NAME\" or \"FAIL NAME: what differed\" per scenario, the Windows version, the DLL's\n"
    "  version and each port's driver, and last \"K/N scenarios passed\".\n"
    "Exit status: 0 every scenario passed; 1 one or more failed or could not run; 2 bad usage;\n"
    "3 imex.dll, pdasim.exe or imexhost.exe not found.\n";

std::string reportText;

void Emit(const std::string& line)
{
    const std::string text = line + "\n";
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    reportText += text;
}

void EmitResult(const ScenarioResult& result)
{
    Emit(result.passed ? "ok " + result.name : "FAIL " + result.name + ": " + result.finding);
}

bool FileExists(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::string OwnFolder()
{
    char self[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string path(self, length);
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// The release keeps the DLL in bin\ beside tools\; a build keeps both in one folder.
std::string DefaultDll(const std::string& folder)
{
    const std::string release = folder + "\\..\\bin\\imex.dll";
    char full[MAX_PATH];
    if (FileExists(release) && GetFullPathNameA(release.c_str(), MAX_PATH, full, nullptr) > 0) return full;
    return folder + "\\imex.dll";
}

std::string MakeWorkFolder()
{
    char temp[MAX_PATH];
    const DWORD length = GetTempPathA(MAX_PATH, temp);
    std::string folder = std::string(temp, length) + "imexcheck-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

void RemoveWorkFolder(const std::string& folder)
{
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
                DeleteFileA((folder + "\\" + entry.cFileName).c_str());
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

BOOL WINAPI OnConsoleEvent(DWORD)
{
    // The simulators must not outlive the check; the default handler then ends it.
    StopAllChildren();
    return FALSE;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string dllPath;
    std::string reportPath;
    std::vector<std::string> only;
    const std::vector<std::string> known = ScenarioNames();
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        if (arg == "--help") {
            std::fputs(USAGE, stdout);
            return EXIT_ALL_PASSED;
        }
        if ((arg == "--dll" || arg == "--report" || arg == "--scenario") && (k + 1 >= argc || argv[k + 1][0] == '\0')) {
            std::fprintf(stderr, "imexcheck: %s needs a value\n(imexcheck --help shows the usage)\n", arg.c_str());
            return EXIT_USAGE;
        }
        if (arg == "--dll") {
            dllPath = argv[++k];
        } else if (arg == "--report") {
            reportPath = argv[++k];
        } else if (arg == "--scenario") {
            only.push_back(argv[++k]);
            if (std::find(known.begin(), known.end(), only.back()) == known.end()) {
                std::string list;
                for (const std::string& name : known)
                    list += "\n  " + name;
                std::fprintf(stderr, "imexcheck: no scenario %s; the scenarios are:%s\n", only.back().c_str(),
                             list.c_str());
                return EXIT_USAGE;
            }
        } else {
            std::fprintf(stderr, "imexcheck: %s %s\n(imexcheck --help shows the usage)\n",
                         arg.rfind("--", 0) == 0 ? "unknown option" : "unexpected argument", arg.c_str());
            return EXIT_USAGE;
        }
    }
    const std::string folder = OwnFolder();
    CheckSetup setup;
    setup.dllPath = dllPath.empty() ? DefaultDll(folder) : dllPath;
    setup.pdasimPath = folder + "\\pdasim.exe";
    setup.imexhostPath = folder + "\\imexhost.exe";
    for (const std::string& needed : {setup.dllPath, setup.pdasimPath, setup.imexhostPath}) {
        if (!FileExists(needed)) {
            std::fprintf(stderr, "imexcheck: %s is missing (imexcheck runs from the release's tools folder)\n",
                         needed.c_str());
            return EXIT_MISSING_PROGRAM;
        }
    }
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    setup.workDir = MakeWorkFolder();

    const std::vector<ScenarioResult> results = RunScenarios(setup, only, PortPairProblem(), EmitResult);
    size_t passed = 0;
    bool ran = false;  // a scenario got as far as the DLL, so its files tell something
    for (const ScenarioResult& result : results) {
        passed += result.passed ? 1 : 0;
        ran = ran || result.finding.rfind("cannot run", 0) != 0;
    }
    Emit("windows: " + WindowsVersionText());
    Emit("dll: " + setup.dllPath + " version " + DllVersionText(setup.dllPath));
    for (const char* port : {"COM1", "COM2"})
        Emit(std::string(port) + " driver: " + PortDriverText(port));
    if (passed == results.size() || !ran)
        RemoveWorkFolder(setup.workDir);
    else
        Emit("files of the failed run (records, device logs, host output): " + setup.workDir);
    Emit(std::to_string(passed) + "/" + std::to_string(results.size()) + " scenarios passed");

    if (!reportPath.empty()) {
        // Text mode: the report reads in any Windows editor, as the console output does.
        std::FILE* file = std::fopen(reportPath.c_str(), "w");
        if (file == nullptr || std::fwrite(reportText.data(), 1, reportText.size(), file) != reportText.size() ||
            std::fclose(file) != 0) {
            std::fprintf(stderr, "imexcheck: cannot write the report %s\n", reportPath.c_str());
            return EXIT_SOME_FAILED;
        }
    }
    return passed == results.size() ? EXIT_ALL_PASSED : EXIT_SOME_FAILED;
}
