// What pdasim refuses, and that it says what and why: bad command lines,
// lines and logs it cannot use, a --pty place held by something of the
// user's, a line another simulator has.
#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "PtyClient.h"

namespace {

struct Outcome {
    int status;
    std::string out;  // stdout and stderr together
};

Outcome RunSim(const std::string& args)
{
    Outcome result{-1, {}};
    std::FILE* pipe = popen((std::string(PDASIM_PATH) + " " + args + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
        result.out += buffer;
    int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(PdaSimRefusals, NamesTheOptionOrPathAndTheReason)
{
    TempDir dir;
    const std::string d = dir.path();
    struct Case {
        std::string args;
        int status;
        std::string said;
    } cases[] = {
        {"--help", 0, "usage: pdasim (--device PATH | --pty LINK) [OPTION]...\n       pdasim --payload-fields"},
        {"--version", 0, "pdasim 1."},
        {"--bogus", 2, "unknown option --bogus"},
        {"--pty x stray", 2, "unexpected argument stray"},
        {"--pty x --free-kb 70000", 2, "--free-kb needs a number from 0 to 65535"},
        {"--pty x --refuse-every abc", 2, "--refuse-every needs a number"},
        {"--pty x --delay-ms", 2, "--delay-ms needs a number"},
        {"--pty x --export-vcard ''", 2, "--export-vcard needs a value, not an empty one"},
        {"--pty a --device b", 2, "give exactly one of --device PATH and --pty LINK"},
        {"--device /dev/null", 1, "/dev/null is not a serial line (a terminal): Inappropriate ioctl"},
        {"--device " + d + "/none", 1, "cannot open " + d + "/none: No such file or directory"},
        {"--pty " + d + "/tty --log " + d + "/no/log", 1,
         "cannot open the log " + d + "/no/log: No such file or directory"},
    };
    for (const Case& c : cases) {
        Outcome o = RunSim(c.args);
        EXPECT_EQ(o.status, c.status) << c.args << ": " << o.out;
        EXPECT_NE(o.out.find(c.status == 0 ? c.said : "pdasim: " + c.said), std::string::npos)
            << c.args << " said: " << o.out;
    }
}

TEST(PdaSimRefusals, PtyLeavesEverythingButAPtyLinkAlone)
{
    TempDir dir;
    const std::string file = dir.path() + "/notes.txt";
    const std::string folder = dir.path() + "/folder";
    const std::string foreign = dir.path() + "/foreign";
    std::ofstream(file) << "my notes\n";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    ASSERT_EQ(symlink(file.c_str(), foreign.c_str()), 0);
    const std::string log = dir.path() + "/log.jsonl";
    struct Case {
        std::string link;
        std::string what;
    } cases[] = {{file, "a file"}, {folder, "a folder"}, {foreign, "a link to something else"}};
    for (const Case& c : cases) {
        Outcome o = RunSim("--pty " + c.link + " --log " + log);
        EXPECT_EQ(o.status, 1) << c.link;
        EXPECT_NE(o.out.find("cannot publish the line at " + c.link + ": " + c.what), std::string::npos) << o.out;
    }
    EXPECT_EQ(ReadAll(file), "my notes\n");
    struct stat st;
    EXPECT_TRUE(stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
    char target[256] = {};
    EXPECT_GT(readlink(foreign.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), file);
    EXPECT_NE(access(log.c_str(), F_OK), 0) << "a refused start still wrote its log";
}

TEST(PdaSimRefusals, SecondSimulatorOnALineIsRefusedUntilTheFirstEnds)
{
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string line = ptsname(master);
    SimProcess first;
    std::string ready;
    ASSERT_TRUE(first.Start({"--device", line, "--quiet"}, ready)) << "no ready line for " << line;

    Outcome second = RunSim("--device " + line);
    EXPECT_EQ(second.status, 1);
    EXPECT_NE(second.out.find("pdasim: " + line + " is in use: pdasim (pid " + std::to_string(first.pid()) + ")"),
              std::string::npos)
        << second.out;

    EXPECT_EQ(first.Stop(), 0);
    // A lock file that names no process is left to the user, not taken over.
    const std::string lockFile = "/run/lock/LCK.." + line.substr(5).replace(3, 1, "_");
    if (access("/run/lock", W_OK) == 0) {
        std::ofstream(lockFile) << "\x01\x02";
        Outcome garbled = RunSim("--device " + line);
        EXPECT_NE(garbled.out.find("its lock file " + lockFile + " names no process"), std::string::npos)
            << garbled.out;
        EXPECT_EQ(unlink(lockFile.c_str()), 0) << "the lock file was removed";
    }
    // The first one's lock file went with it, so the line is free again.
    SimProcess third;
    EXPECT_TRUE(third.Start({"--device", line, "--quiet"}, ready)) << "the line stayed locked: " << ready;
    EXPECT_EQ(third.Stop(), 0);
    close(master);
}

}  // namespace
