// The check's scenarios: each starts pdasim.exe on COM2 with the faults it
// needs (or none at all), has imexhost.exe call ImEx through the DLL on a
// record file of its own, and compares what the device logged with what
// the DLL reported.
#pragma once

#include <string>
#include <vector>

struct CheckSetup {
    std::string dllPath;
    std::string pdasimPath;
    std::string imexhostPath;
    std::string workDir;  // a folder of the check's own, for files and logs
};

struct ScenarioResult {
    std::string name;
    bool passed = false;
    std::string finding;  // what differed, or why it could not run
};

// The scenarios' names, in the order they run.
std::vector<std::string> ScenarioNames();

// Runs the scenarios named in `only` (all when it is empty) in turn; `report`
// gets each result as it is known. A non-empty `cannotRun` fails each one
// with that reason instead.
std::vector<ScenarioResult> RunScenarios(const CheckSetup& setup, const std::vector<std::string>& only,
                                         const std::string& cannotRun, void (*report)(const ScenarioResult&));
