// pdasim on the far side of a real pseudo-terminal, driven by a client
// built on the same codec as the library: its replies and record log, the
// vCard export, the line and the process (PdaSimFaultsTest.cpp: the faults
// it puts on the line when asked).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "DeviceMessages.h"
#include "PdaSimFixture.h"
#include "PtyClient.h"
#include "RecordFields.h"

namespace {

TEST_F(PdaSim, AnswersProbeInfoAndRecordAndLogsRecord)
{
    Launch({"--server-type", "测试PDA", "--free-kb", "2048"});
    Bytes probe = Exchange(Probe(), 0x82);
    EXPECT_EQ(probe, (Bytes{0x82, 0x00, 0x00}));

    Bytes info = Exchange(Info(), 0x81);
    InfoReply parsed = ReadInfoReply(info.data(), info.size());
    EXPECT_EQ(parsed.freeKb, 2048);
    EXPECT_EQ(parsed.serverType, "\xB2\xE2\xCA\xD4PDA") << "server type must go out in CP936";
    EXPECT_EQ(info[3], 0);
    EXPECT_EQ(info.back(), 0);

    Bytes data = RECORD_DATA;
    data.insert(data.begin() + 2, {0xD5, 0xC5});  // "Li张" in CP936
    Bytes reply = Exchange(Record(data), 0x87);
    EXPECT_EQ(reply, (Bytes{0x87, 0x01, 0x00, 0x01}));

    std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 1u);
    const std::string& l = lines[0];
    EXPECT_EQ(l.rfind("{\"seq\":1,\"time\":\"", 0), 0u) << l;
    EXPECT_NE(l.find("Z\",\"flag\":1,\"length\":18,\"data\":\"4c69d5c50000000000000031323300000000\""),
              std::string::npos)
        << l;
    EXPECT_NE(l.find("\"fields\":[\"Li张\",\"\",\"\",\"\",\"\",\"\",\"\",\"123\",\"\",\"\",\"\"],\"status\":1}"),
              std::string::npos)
        << l;
}

// Record data from eleven texts (already in CP936): each with its NUL, then one more.
Bytes RecordOfFields(const std::vector<std::string>& fields)
{
    Bytes data;
    for (size_t k = 0; k < RECORD_FIELD_COUNT; ++k) {
        if (k < fields.size()) data.insert(data.end(), fields[k].begin(), fields[k].end());
        data.push_back(0);
    }
    data.push_back(0);
    return data;
}

std::string FileText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return "<no file>";
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The values of one property through a whole vCard file, folds undone.
std::vector<std::string> PropertyValues(const std::string& vcards, const std::string& name)
{
    std::string unfolded;
    for (size_t k = 0; k < vcards.size(); ++k) {
        if (vcards.compare(k, 3, "\r\n ") == 0)
            k += 2;
        else
            unfolded += vcards[k];
    }
    std::vector<std::string> values;
    std::istringstream lines(unfolded);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind(name + ":", 0) == 0) values.push_back(line.substr(name.size() + 1));
    }
    return values;
}

TEST_F(PdaSim, ExportsTheStoredRecordsAsVcardsInOrder)
{
    std::string vcf = dir.path() + "/device.vcf";
    Launch({"--export-vcard", vcf, "--refuse-every", "3"});
    EXPECT_EQ(FileText(vcf), "") << "the empty store is not written at start";

    const std::vector<std::string> names = {"\xD5\xC5\xC8\xFD", "Li", "refused", "Wang, Wu", "Zhao"};
    const std::vector<std::string> shown = {"张三", "Li", "Wang\\, Wu", "Zhao"};  // the third is refused
    size_t stored = 0;
    for (size_t k = 0; k < names.size(); ++k) {
        std::string notes = "#" + std::to_string(k + 1) + "\r\n" + std::string(100, 'x');
        Bytes reply = Exchange(Record(RecordOfFields({names[k], "", "", "", "", "", "", "123", "", "", notes})), 0x87);
        bool taken = ReadRecordStatus(reply.data(), reply.size()) != RECORD_REFUSED;
        EXPECT_EQ(taken, k != 2) << "record " << k + 1;
        stored += taken ? 1 : 0;
        // Current as soon as the reply is in.
        std::string vcards = FileText(vcf);
        EXPECT_EQ(PropertyValues(vcards, "FN"), std::vector<std::string>(shown.begin(), shown.begin() + stored))
            << "after record " << k + 1 << ":\n"
            << vcards;
    }
    sim.Stop();
    std::string vcards = FileText(vcf);
    EXPECT_EQ(PropertyValues(vcards, "BEGIN").size(), 4u);
    EXPECT_EQ(PropertyValues(vcards, "END").size(), 4u);
    EXPECT_EQ(PropertyValues(vcards, "NOTE"),
              (std::vector<std::string>{"#1\\n" + std::string(100, 'x'), "#2\\n" + std::string(100, 'x'),
                                        "#4\\n" + std::string(100, 'x'), "#5\\n" + std::string(100, 'x')}));
    EXPECT_EQ(PropertyValues(vcards, "TEL;TYPE=WORK"), std::vector<std::string>(4, "123"));
}

TEST_F(PdaSim, AnExportFileThatCannotBeWrittenLeavesTheLineServed)
{
    Launch({"--export-vcard", dir.path() + "/missing/device.vcf"});
    EXPECT_EQ(Exchange(Record(), 0x87), (Bytes{0x87, 0x01, 0x00, 0x01}));
    EXPECT_EQ(Exchange(Record(), 0x87), (Bytes{0x87, 0x01, 0x00, 0x01}));
    EXPECT_EQ(LogLines().size(), 2u);
}

TEST_F(PdaSim, TakesTheLargestRecordTheLibrarySends)
{
    // 4084 data bytes make a 4090-byte message, the largest frame payload;
    // bytes that need stuffing make its wire form longer still.
    Launch();
    Bytes data(MAX_RECORD_DATA);
    for (size_t k = 0; k < data.size(); ++k)
        data[k] = static_cast<uint8_t>(k % 7 == 0 ? FRAME_FLAG : 0x30 + k % 10);
    Bytes request = Record(data);
    ASSERT_EQ(request.size(), MAX_FRAME_PAYLOAD);
    Bytes reply = Exchange(request, 0x87);
    EXPECT_EQ(reply, (Bytes{0x87, 0x01, 0x00, 0x01}));
    std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("\"length\":4084,"), std::string::npos) << lines[0].substr(0, 120);
}

TEST_F(PdaSim, SurvivesGarbageAndIgnoresMalformedRequests)
{
    Launch();
    std::mt19937 rng(99);
    Bytes garbage(20000);
    for (auto& b : garbage) {
        uint32_t r = rng() % 16;
        b = r == 0 ? 0x7E : r == 1 ? 0x7D : static_cast<uint8_t>(rng());
    }
    ASSERT_TRUE(client.WriteRaw(garbage));
    Bytes closing = {0x7E};  // ends whatever frame the garbage left open
    ASSERT_TRUE(client.WriteRaw(closing));
    ExpectNoReply({0x01, 0x05, 0x00});  // length field disagrees
    ExpectNoReply({0x33, 0x00, 0x00});  // unknown code
    ExpectNoReply({0x02});              // shorter than a header
    Exchange(Probe(), 0x82);
    // Oversized frame, then a good one.
    Bytes huge(6000, 0x41);
    huge.insert(huge.begin(), 0x7E);
    huge.push_back(0x7E);
    ASSERT_TRUE(client.WriteRaw(huge));
    Exchange(Info(), 0x81);
}

TEST_F(PdaSim, SurvivesPeerReopeningThePort)
{
    Launch();
    for (int k = 0; k < 50; ++k) {
        client.Close();
        ASSERT_TRUE(client.Open(link)) << "reopen " << k;
    }
    Exchange(Probe(), 0x82);
    client.Close();
    ASSERT_TRUE(client.Open(link));
    Exchange(Info(), 0x81);
}

TEST_F(PdaSim, SigtermRemovesTheLinkAndExitsCleanly)
{
    // An older link to a pseudo-terminal (a killed simulator's) is replaced.
    std::string link0 = dir.path() + "/tty";
    ASSERT_EQ(symlink("/dev/pts/999999", link0.c_str()), 0);
    Launch();
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target).rfind("/dev/pts/", 0), 0u) << target;
    EXPECT_EQ(sim.Stop(), 0);
    struct stat st;
    EXPECT_NE(lstat(link.c_str(), &st), 0) << "the link outlived pdasim";
}

TEST_F(PdaSim, XonXoffLeavesSoftwareFlowControlOnTheLine)
{
    // What the next opener of the port finds in the line's settings; the
    // client is not opened, since it would make the line raw again.
    for (bool wanted : {false, true}) {
        link = dir.path() + (wanted ? "/tty-xon" : "/tty-plain");
        std::vector<std::string> args = {"--pty", link, "--quiet"};
        if (wanted) args.push_back("--xon-xoff");
        std::string ready;
        ASSERT_TRUE(sim.Start(args, ready)) << "pdasim gave no ready line within 5 s";
        int fd = open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(fd, 0) << "cannot open " << link;
        termios t{};
        ASSERT_EQ(tcgetattr(fd, &t), 0);
        close(fd);
        EXPECT_EQ((t.c_iflag & IXON) != 0, wanted) << (wanted ? "--xon-xoff" : "plain");
        EXPECT_EQ((t.c_iflag & IXOFF) != 0, wanted) << (wanted ? "--xon-xoff" : "plain");
        EXPECT_EQ(sim.Stop(), 0);
    }
}

TEST(PdaSimDevice, AnswersOnAnExistingTty)
{
    // The test owns the pty here; pdasim opens the slave path it is given.
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    std::string slave = ptsname(master);
    SimProcess sim;
    std::string ready;
    ASSERT_TRUE(sim.Start({"--device", slave, "--quiet"}, ready)) << "pdasim gave no ready line for " << slave;
    EXPECT_EQ(ready, "pdasim: ready " + slave);
    PtyClient client;
    ASSERT_TRUE(client.Adopt(master));
    ASSERT_TRUE(client.SendMessage(Info()));
    Bytes reply;
    ASSERT_TRUE(client.ReceiveMessage(reply, REPLY_WAIT_MS)) << "no reply through the master side";
    InfoReply info = ReadInfoReply(reply.data(), reply.size());
    EXPECT_EQ(info.freeKb, 1024);
    EXPECT_EQ(info.serverType, "PDASIM");
    EXPECT_EQ(sim.Stop(), 0);
    close(master);
}

TEST(PdaSimCommandLine, RejectsBadArguments)
{
    for (const char* cmd :
         {" --bogus", "", " --pty a --device b", " --pty x --free-kb 70000", " --pty x --refuse-every 0",
          " --pty x --delay-ms", " --pty x --export-vcard", " --pty x --export-vcard ''"}) {
        std::string line = std::string(PDASIM_PATH) + cmd + " >/dev/null 2>&1";
        int status = std::system(line.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << "accepted:" << cmd;
    }
}

}  // namespace
