// The pdasim test fixture: pdasim started on a pseudo-terminal linked into a
// temp dir, a client on the far side, and the requests the tests send.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "PtyClient.h"

constexpr int REPLY_WAIT_MS = 2000;
constexpr int SILENCE_MS = 400;

inline const Bytes RECORD_DATA = {0x4C, 0x69, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                  0x00, 0x31, 0x32, 0x33, 0x00, 0x00, 0x00, 0x00};

Bytes Probe();
Bytes Info();
Bytes Record(const Bytes& data = RECORD_DATA);

class PdaSim : public ::testing::Test {
protected:
    // Starts pdasim on a pty linked into a temp dir and connects the client.
    void Launch(std::vector<std::string> extra = {});
    // Sends `request` and expects a reply of `code` within the wait.
    Bytes Exchange(const Bytes& request, uint8_t code);
    void ExpectNoReply(const Bytes& request);
    std::vector<std::string> LogLines();

    TempDir dir;
    std::string link;
    std::string logPath;
    int launches = 0;
    SimProcess sim;
    PtyClient client;
};
