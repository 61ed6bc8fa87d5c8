#include "CheckScenarios.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "ChildProcess.h"
#include "PortPair.h"
#include "RecordAssembly.h"
#include "RecordFields.h"
#include "RecordFileWriter.h"
#include "imex.h"

namespace {

constexpr unsigned SIM_READY_MS = 10000;
constexpr unsigned HOST_LIMIT_MS = 90000;

const char DEVICE_PORT[] = "COM2";
const char HOST_PORT[] = "COM1";

// Exit statuses of imexhost that a scenario expects (see imexhost --help).
constexpr int HOST_ALL_STORED = 0;
constexpr int HOST_REFUSED = 8;

// Bounds of a measured wait, in seconds.
struct Span {
    double low;
    double high;
};

enum class Records {
    PLAIN,    // letters and digits
    CONTROL,  // every value holds XON (0x11) and XOFF (0x13)
};

struct Scenario {
    const char* name;
    std::vector<std::string> faults;  // pdasim's options; "none" runs no simulator at all
    Records records;
    bool flowControlLeftOn;  // XON/XOFF left on in COM1's settings before the call
    int answerDelayMs;       // how long each message box stays up
    int hostStatus;
    const char* summary;        // imexhost's last line
    std::vector<int> statuses;  // the device's status per logged record, in order
    const char* measuredFrom;   // a dialog line whose time starts a measured wait, or null
    const char* measuredTo;     // the line that ends it
    Span expectedSeconds;
};

const char NO_SIMULATOR[] = "none";

// A record reaches the device only through its whole path, so each scenario
// sends three, and a misreported record shows as a box on the wrong one.
const Scenario SCENARIOS[] = {
    {"every_record_stored",
     {},
     Records::PLAIN,
     false,
     200,
     HOST_ALL_STORED,
     "3 records: 3 stored, 0 refused, 0 line faults",
     {1, 1, 1},
     nullptr,
     nullptr,
     {0, 0}},
    {"device_refuses_one_record",
     {"--refuse-every", "2"},
     Records::PLAIN,
     false,
     200,
     HOST_REFUSED,
     "3 records: 2 stored, 1 refused (record 2), 0 line faults",
     {1, 0, 1},
     nullptr,
     nullptr,
     {0, 0}},
    // The reply to record 1 comes 1 s after the DLL gave up on it, while the
    // line-fault box is up: it must not answer record 2, which is refused.
    {"record_never_answered",
     {"--late-reply", "1", "--refuse-every", "2"},
     Records::PLAIN,
     false,
     3000,
     HOST_REFUSED,
     "3 records: 1 stored, 1 refused (record 2), 1 line faults (record 1)",
     {1, 0, 1},
     "dialog transfer 1",
     "box ",
     {19.5, 24.0}},
    {"device_answers_twice",
     {"--duplicate-replies", "--refuse-every", "2"},
     Records::PLAIN,
     false,
     200,
     HOST_REFUSED,
     "3 records: 2 stored, 1 refused (record 2), 0 line faults",
     {1, 0, 1},
     nullptr,
     nullptr,
     {0, 0}},
    {"device_sends_an_extra_reply",
     {"--unsolicited", "1", "--refuse-every", "2"},
     Records::PLAIN,
     false,
     200,
     HOST_REFUSED,
     "3 records: 2 stored, 1 refused (record 2), 0 line faults",
     {1, 0, 1},
     nullptr,
     nullptr,
     {0, 0}},
    {"xon_xoff_bytes_with_flow_control_left_on",
     {},
     Records::CONTROL,
     true,
     200,
     HOST_ALL_STORED,
     "3 records: 3 stored, 0 refused, 0 line faults",
     {1, 1, 1},
     nullptr,
     nullptr,
     {0, 0}},
    // COM1 never answers its probe: the second attempt starts after the
    // probe's time-out. On Windows COM2 is held by pdasim and fails at once.
    {"probe_time_out",
     {"--silent"},
     Records::PLAIN,
     false,
     200,
     IMEX_RESULT_NO_DEVICE,
     nullptr,
     {},
     "dialog connect 1",
     "dialog connect 2",
     {2.7, 6.0}},
    // The probe is answered, the information request not.
    {"information_time_out",
     {"--probe-only"},
     Records::PLAIN,
     false,
     200,
     IMEX_RESULT_NO_DEVICE,
     nullptr,
     {},
     "dialog connect 1",
     "dialog connect 2",
     {0.8, 3.5}},
    {"no_device",
     {NO_SIMULATOR},
     Records::PLAIN,
     false,
     200,
     IMEX_RESULT_NO_DEVICE,
     nullptr,
     {},
     nullptr,
     nullptr,
     {0, 0}},
};

struct TestRecord {
    std::string name;
    std::string mobile;
};

std::vector<TestRecord> RecordsOf(Records kind)
{
    if (kind == Records::CONTROL)
        return {{"Xon\x11Xoff\x13", "\x11\x13\x11\x13"}, {"\x13\x13 Two \x11\x11", "139\x11\x13"}, {"\x11", "\x13"}};
    return {{"Check One", "13800000001"}, {"Check Two", "13800000002"}, {"Check Three", "13800000003"}};
}

std::string HexOf(const uint8_t* data, size_t length)
{
    static const char HEX[] = "0123456789abcdef";
    std::string text;
    for (size_t k = 0; k < length; ++k) {
        text += HEX[data[k] >> 4];
        text += HEX[data[k] & 0x0F];
    }
    return text;
}

// The record file and, per record, the payload the device must receive.
bool WriteRecordFile(const std::string& path, Records kind, std::vector<std::string>& payloads)
{
    RecordFileWriter writer;
    for (const TestRecord& record : RecordsOf(kind)) {
        const FieldCode* name = CodeOfField(FIELD_NAME);
        const FieldCode* mobile = CodeOfField(FIELD_MOBILE);
        writer.AddEntry(name->code, name->label, record.name);
        writer.AddEntry(mobile->code, mobile->label, record.mobile);
        writer.EndBlock();
        const char* texts[RECORD_FIELD_COUNT] = {};
        texts[FIELD_NAME] = record.name.c_str();
        texts[FIELD_MOBILE] = record.mobile.c_str();
        uint8_t payload[MAX_PAYLOAD_LENGTH + 1];
        const int32_t length = BuildRecordPayload(texts, payload, sizeof payload);
        payloads.push_back(HexOf(payload, static_cast<size_t>(length)));
    }
    std::ofstream out(path, std::ios::binary);
    out << writer.Finish();
    return static_cast<bool>(out.flush());
}

std::string ReadWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> LinesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

// The text after "key": in one line of pdasim's log, up to the next quote
// (strings) or the end of the value (numbers).
std::string LogValue(const std::string& line, const std::string& key)
{
    const std::string tag = "\"" + key + "\":";
    size_t at = line.find(tag);
    if (at == std::string::npos) return std::string();
    at += tag.size();
    const bool quoted = at < line.size() && line[at] == '"';
    if (quoted) ++at;
    const size_t end = quoted ? line.find('"', at) : line.find_first_of(",}", at);
    return end == std::string::npos ? std::string() : line.substr(at, end - at);
}

// Seconds from the first host line holding `from` to the first after it
// holding `to`; the host stamps its dialog lines "[seconds] ...". -1 when
// either is missing.
double Measured(const std::vector<std::string>& lines, const char* from, const char* to)
{
    double start = -1;
    for (const std::string& line : lines) {
        if (line.empty() || line[0] != '[') continue;
        const double at = std::atof(line.c_str() + 1);
        if (start < 0 && line.find(from) != std::string::npos)
            start = at;
        else if (start >= 0 && line.find(to) != std::string::npos)
            return at - start;
    }
    return -1;
}

std::string Quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

// The check's verdict on one run: empty when everything matched.
std::string Judge(const Scenario& s, int hostStatus, const std::vector<std::string>& hostLines,
                  const std::vector<std::string>& logLines, const std::vector<std::string>& payloads)
{
    if (hostStatus != s.hostStatus)
        return "imexhost ended with " + std::to_string(hostStatus) + ", expected " + std::to_string(s.hostStatus) +
               (hostLines.empty() ? std::string() : " (its last line: " + Quoted(hostLines.back()) + ")");
    if (s.summary != nullptr && (hostLines.empty() || hostLines.back() != s.summary))
        return "the DLL reported " + (hostLines.empty() ? std::string("nothing") : Quoted(hostLines.back())) +
               ", expected " + Quoted(s.summary);
    if (logLines.size() != s.statuses.size())
        return "the device logged " + std::to_string(logLines.size()) + " records, expected " +
               std::to_string(s.statuses.size());
    for (size_t k = 0; k < logLines.size(); ++k) {
        const std::string record = "record " + std::to_string(k + 1);
        if (LogValue(logLines[k], "data") != payloads[k])
            return record + " reached the device as " + LogValue(logLines[k], "data") + ", sent as " + payloads[k];
        if (LogValue(logLines[k], "status") != std::to_string(s.statuses[k]))
            return record + ": the device answered status " + LogValue(logLines[k], "status") + ", expected " +
                   std::to_string(s.statuses[k]);
    }
    if (s.measuredFrom != nullptr) {
        const double seconds = Measured(hostLines, s.measuredFrom, s.measuredTo);
        char text[160];
        std::snprintf(text, sizeof text, "%.2f s from \"%s\" to \"%s\", expected %.1f to %.1f s", seconds,
                      s.measuredFrom, s.measuredTo, s.expectedSeconds.low, s.expectedSeconds.high);
        if (seconds < s.expectedSeconds.low || seconds > s.expectedSeconds.high)
            return seconds < 0 ? std::string("no \"") + s.measuredTo + "\" after \"" + s.measuredFrom + "\"" : text;
    }
    return std::string();
}

std::string Quote(const std::string& path)
{
    return "\"" + path + "\"";
}

// The simulator's output file says it is ready, or it has ended.
bool WaitUntilReady(ChildProcess& sim, const std::string& outputPath)
{
    for (unsigned waited = 0; waited < SIM_READY_MS; waited += 50) {
        if (ReadWhole(outputPath).find("pdasim: ready") != std::string::npos) return true;
        if (sim.WaitFor(50)) return false;
    }
    return false;
}

ScenarioResult RunOne(const CheckSetup& setup, const Scenario& s, bool first)
{
    ScenarioResult result;
    result.name = s.name;
    const std::string base = setup.workDir + "\\" + s.name;
    const std::string recordFile = base + ".rec";
    const std::string logFile = base + "-device.jsonl";
    const std::string simOutput = base + "-pdasim.txt";
    const std::string hostOutput = base + "-imexhost.txt";
    std::vector<std::string> payloads;
    if (!WriteRecordFile(recordFile, s.records, payloads)) {
        result.finding = "cannot run: cannot write " + recordFile;
        return result;
    }
    std::string error;
    if (s.flowControlLeftOn && !LeaveSoftwareFlowControlOn(HOST_PORT, error)) {
        result.finding = "cannot run: " + error;
        return result;
    }
    std::remove(logFile.c_str());
    ChildProcess sim;
    const bool simulated = s.faults.empty() || s.faults[0] != NO_SIMULATOR;
    if (simulated) {
        std::string command = Quote(setup.pdasimPath) + " --device " + DEVICE_PORT + " --log " + Quote(logFile);
        for (const std::string& fault : s.faults)
            command += " " + fault;
        if (!sim.Start(command, simOutput, error)) {
            result.finding = "cannot run: " + error;
            return result;
        }
        if (!WaitUntilReady(sim, simOutput)) {
            sim.Stop();
            result.finding = "cannot run: pdasim did not get ready on " + std::string(DEVICE_PORT) + ": " +
                             (LinesOf(ReadWhole(simOutput)).empty() ? std::string("no output")
                                                                    : LinesOf(ReadWhole(simOutput)).back());
            return result;
        }
    }
    ChildProcess host;
    const std::string command = Quote(setup.imexhostPath) + " --dll " + Quote(setup.dllPath) +
                                " --log-dialogs --answer-boxes=" + std::to_string(s.answerDelayMs) + " " +
                                Quote(recordFile);
    if (!host.Start(command, hostOutput, error)) {
        result.finding = "cannot run: " + error;
        return result;
    }
    if (!host.WaitFor(HOST_LIMIT_MS)) {
        host.Stop();
        sim.Stop();
        result.finding =
            "the call did not end within " + std::to_string(HOST_LIMIT_MS / 1000) + " s (see " + hostOutput + ")";
        return result;
    }
    sim.Stop();
    // The first call that should find the device tells whether COM1 and COM2 are joined at all.
    if (first && host.ExitCode() == IMEX_RESULT_NO_DEVICE) {
        result.finding = std::string("cannot run: ") + NOT_JOINED;
        return result;
    }
    std::vector<std::string> logLines = LinesOf(ReadWhole(logFile));
    result.finding = Judge(s, host.ExitCode(), LinesOf(ReadWhole(hostOutput)), logLines, payloads);
    result.passed = result.finding.empty();
    return result;
}

}  // namespace

std::vector<std::string> ScenarioNames()
{
    std::vector<std::string> names;
    for (const Scenario& s : SCENARIOS)
        names.push_back(s.name);
    return names;
}

std::vector<ScenarioResult> RunScenarios(const CheckSetup& setup, const std::vector<std::string>& only,
                                         const std::string& cannotRun, void (*report)(const ScenarioResult&))
{
    std::vector<ScenarioResult> results;
    std::string reason = cannotRun;
    for (const Scenario& s : SCENARIOS) {
        if (!only.empty() && std::find(only.begin(), only.end(), s.name) == only.end()) continue;
        ScenarioResult result;
        if (reason.empty()) {
            result = RunOne(setup, s, results.empty());
            // Every later scenario would wait in vain for the same device.
            if (result.finding.find(NOT_JOINED) != std::string::npos) reason = NOT_JOINED;
        } else {
            result.name = s.name;
            result.finding = "cannot run: " + reason;
        }
        report(result);
        results.push_back(result);
    }
    return results;
}
