// The pdasim test fixture (PdaSimFixture.h).
#include "PdaSimFixture.h"

#include <fstream>

#include "DeviceMessages.h"

Bytes Probe()
{
    static uint8_t out[FRAME_BUFFER_SIZE];
    size_t n = BuildProbeRequest(out, PROBE_FILLER_COUNT);
    return Bytes(out, out + n);
}

Bytes Info()
{
    uint8_t out[FRAME_BUFFER_SIZE];
    size_t n = BuildInfoRequest(out);
    return Bytes(out, out + n);
}

Bytes Record(const Bytes& data)
{
    static uint8_t out[FRAME_BUFFER_SIZE];
    size_t n = BuildRecordRequest(out, RECORD_FLAG, static_cast<uint16_t>(data.size()), data.data());
    return Bytes(out, out + n);
}

void PdaSim::Launch(std::vector<std::string> extra)
{
    ASSERT_FALSE(dir.path().empty()) << "could not create a temp dir";
    link = dir.path() + "/tty";
    logPath = dir.path() + "/records-" + std::to_string(++launches) + ".jsonl";
    std::vector<std::string> args = {"--pty", link, "--log", logPath, "--quiet"};
    args.insert(args.end(), extra.begin(), extra.end());
    std::string ready;
    ASSERT_TRUE(sim.Start(args, ready)) << "pdasim gave no ready line within 5 s (got \"" << ready << "\")";
    ASSERT_EQ(ready, "pdasim: ready " + link);
    ASSERT_TRUE(client.Open(link)) << "cannot open the pty through " << link;
}

Bytes PdaSim::Exchange(const Bytes& request, uint8_t code)
{
    EXPECT_TRUE(client.SendMessage(request));
    Bytes reply;
    EXPECT_TRUE(client.ReceiveMessage(reply, REPLY_WAIT_MS))
        << "no reply to request 0x" << std::hex << int(request[0]) << " from pdasim";
    EXPECT_TRUE(IsAcceptedReply(reply.data(), reply.size(), code))
        << "reply of " << reply.size() << " bytes, code 0x" << std::hex << (reply.empty() ? 0 : int(reply[0]));
    return reply;
}

void PdaSim::ExpectNoReply(const Bytes& request)
{
    ASSERT_TRUE(client.SendMessage(request));
    Bytes reply;
    EXPECT_FALSE(client.ReceiveMessage(reply, SILENCE_MS))
        << "unexpected reply 0x" << std::hex << (reply.empty() ? 0 : int(reply[0]));
}

std::vector<std::string> PdaSim::LogLines()
{
    std::ifstream in(logPath);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}
