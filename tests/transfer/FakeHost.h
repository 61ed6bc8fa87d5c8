// Stands in for the dialogs: answers the connection attempts from a script
// and writes down everything the driver asks of it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "TransferHost.h"

class FakeHost : public TransferHost {
public:
    bool CreateHostWindow() override
    {
        events.push_back("create");
        windowOpen = createSucceeds;
        return createSucceeds;
    }
    void DestroyHostWindow() override
    {
        events.push_back("destroy");
        windowOpen = false;
    }
    void RunConnectDialog() override
    {
        events.push_back("connect " + portName);
        size_t attempt = connectAttempts++;
        SetConnected(attempt < connectAnswers.size() && connectAnswers[attempt]);
        if (onConnect) onConnect();
    }
    void RunTransferDialog(int32_t percent, int32_t dataLength, const uint8_t* data) override
    {
        events.push_back("send " + std::to_string(percent));
        payloads.emplace_back(reinterpret_cast<const char*>(data), static_cast<size_t>(dataLength));
    }

    bool createSucceeds = true;
    bool windowOpen = false;
    std::vector<bool> connectAnswers = {true};
    size_t connectAttempts = 0;
    std::function<void()> onConnect;
    std::vector<std::string> events;
    std::vector<std::string> payloads;
};
