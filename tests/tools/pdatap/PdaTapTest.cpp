// pdatap between a client (the host's side, on the tap's pseudo-terminal)
// and pdasim (the device, on a pseudo-terminal of its own): bytes pass
// unchanged both ways, and the trace lists every frame of a transfer.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sys/wait.h>

#include "DeviceMessages.h"
#include "PtyClient.h"
#include "RecordFields.h"

namespace {

constexpr int REPLY_WAIT_MS = 2000;

Bytes Built(size_t length, const uint8_t* out)
{
    return Bytes(out, out + length);
}

std::vector<std::string> Lines(const std::string& path)
{
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TEST(PdaTap, TraceOfAThreeRecordTransferListsEveryFrame)
{
    for (bool json : {false, true}) {
        TempDir dir;
        const std::string deviceLink = dir.path() + "/device";
        const std::string hostLink = dir.path() + "/host";
        const std::string tracePath = dir.path() + "/trace";
        const std::string logPath = dir.path() + "/records.jsonl";
        SimProcess device;
        SimProcess tap;
        std::string ready;
        ASSERT_TRUE(device.Start({"--pty", deviceLink, "--log", logPath, "--quiet", "--refuse-every", "2"}, ready));
        std::vector<std::string> tapArgs = {"--device", deviceLink, "--pty", hostLink, "--trace", tracePath, "--quiet"};
        if (json) tapArgs.push_back("--json");
        ASSERT_TRUE(tap.Start(tapArgs, ready, PDATAP_PATH)) << "pdatap gave no ready line: " << ready;
        ASSERT_EQ(ready, "pdatap: ready " + hostLink);
        // The line is this tap's: a second one is refused by name, as is a bad option.
        const std::pair<std::string, std::string> refused[] = {
            {"--device " + deviceLink + " --pty " + hostLink + "2",
             " is in use: pdatap (pid " + std::to_string(tap.pid())},
            {"--device x --pty y --speed 9600", "pdatap: unknown option --speed"}};
        for (const auto& [args, said] : refused) {
            std::FILE* pipe = popen((PDATAP_PATH " " + args + " 2>&1").c_str(), "r");
            std::string out;
            for (char buffer[256]; std::fgets(buffer, sizeof buffer, pipe) != nullptr;)
                out += buffer;
            EXPECT_NE(pclose(pipe), 0) << args;
            EXPECT_NE(out.find(said), std::string::npos) << args << " said: " << out;
        }

        PtyClient client;
        ASSERT_TRUE(client.Open(hostLink));
        uint8_t out[FRAME_BUFFER_SIZE];
        std::vector<Bytes> requests = {Built(BuildProbeRequest(out, PROBE_FILLER_COUNT), out),
                                       Built(BuildInfoRequest(out), out)};
        for (std::string name : {"\xB3\xC2\xBE\xB2", "Li Na", "\xCD\xF5\xB7\xBC"}) {  // 陈静, Li Na, 王芳 in CP936
            name.append(RECORD_FIELD_COUNT, '\0');
            const auto* data = reinterpret_cast<const uint8_t*>(name.data());
            requests.push_back(Built(BuildRecordRequest(out, RECORD_FLAG, uint16_t(name.size()), data), out));
        }
        std::vector<Bytes> replies;
        for (const Bytes& request : requests) {
            ASSERT_TRUE(client.SendMessage(request));
            Bytes reply;
            ASSERT_TRUE(client.ReceiveMessage(reply, REPLY_WAIT_MS))
                << "no reply through the tap to 0x" << std::hex << int(request[0]);
            replies.push_back(reply);
        }
        // The device's own replies, byte for byte: record 2 refused.
        EXPECT_EQ(replies[0], (Bytes{0x82, 0, 0}));
        EXPECT_EQ(replies[2], (Bytes{0x87, 1, 0, RECORD_TAKEN}));
        EXPECT_EQ(replies[3], (Bytes{0x87, 1, 0, RECORD_REFUSED}));
        EXPECT_EQ(tap.Stop(), 0);
        EXPECT_EQ(device.Stop(), 0);

        // The records reached the device unchanged.
        std::vector<std::string> logged = Lines(logPath);
        ASSERT_EQ(logged.size(), 3u);
        EXPECT_NE(logged[0].find("\"data\":\"b3c2beb2000000"), std::string::npos) << logged[0];

        std::vector<std::string> trace = Lines(tracePath);
        const std::vector<std::string> expected = {
            "host>dev.*0x02.*probe request.*4003",   "dev>host.*0x82.*probe reply",
            "host>dev.*0x01.*information request",   "dev>host.*0x81.*information reply.*PDASIM",
            "host>dev.*0x07.*record request.*陈静",  "dev>host.*0x87.*record reply.*status.*1",
            "host>dev.*0x07.*record request.*Li Na", "dev>host.*0x87.*record reply.*status.*0",
            "host>dev.*0x07.*record request.*王芳",  "dev>host.*0x87.*record reply.*status.*1"};
        ASSERT_EQ(trace.size(), expected.size()) << (json ? "json" : "text") << " trace of " << trace.size()
                                                 << " lines, first: " << (trace.empty() ? "" : trace[0]);
        for (size_t k = 0; k < trace.size(); ++k) {
            EXPECT_TRUE(::testing::internal::RE::PartialMatch(trace[k], ::testing::internal::RE(expected[k])))
                << "line " << k + 1 << ": " << trace[k] << "\nexpected: " << expected[k];
            EXPECT_EQ(trace[k].rfind("{", 0) == 0, json) << trace[k];
        }
    }
}

}  // namespace
