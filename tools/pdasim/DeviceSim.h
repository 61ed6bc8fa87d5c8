// The handheld device's side of the protocol: answers probe, information
// and record requests, and applies the fault behaviours chosen on the
// command line. Line I/O is left to the caller through `send`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "SimOptions.h"

class RecordLog;

class DeviceSim {
public:
    using SendBytes = std::function<void(const uint8_t*, size_t)>;
    using Note = std::function<void(const std::string&)>;
    using Pause = std::function<void(uint32_t ms)>;  // may end early on a stop request
    using RecordStored = std::function<void(const uint8_t* data, size_t length)>;

    // `serverType` is already in the device's code page.
    DeviceSim(const SimOptions& options, std::string serverType, RecordLog* log, SendBytes send, Note note,
              Pause pause);

    // Hears of each record the device stores: one it answers with
    // RECORD_TAKEN, told before that reply goes out.
    void SetRecordStored(RecordStored stored) { stored_ = std::move(stored); }

    // Handles one good frame's payload from the line.
    void OnMessage(const uint8_t* payload, size_t length);

    uint32_t recordsReceived() const { return recordsReceived_; }
    uint32_t repliesSent() const { return repliesSent_; }

private:
    bool Answers(uint8_t code) const;
    // Sends a reply built in `message` (a FRAME_BUFFER_SIZE buffer), with
    // the faults chosen for replies; `record` is the 1-based number of the
    // record it answers, 0 for other requests.
    void SendReply(uint8_t* message, size_t length, uint32_t record = 0);
    void SendStale(uint8_t code);
    void SendMessage(const uint8_t* message, size_t length, bool corrupt);
    // Sends bytes now, or keeps them for one write while a reply's copies
    // are gathered (held_ not null).
    void Send(const uint8_t* data, size_t length);

    const SimOptions& options_;
    std::string serverType_;
    RecordLog* log_;
    SendBytes send_;
    Note note_;
    Pause pause_;
    RecordStored stored_;
    std::mt19937 rng_{0x5eed};
    uint32_t recordsReceived_ = 0;
    uint32_t recordsAnswered_ = 0;
    uint32_t repliesSent_ = 0;
    std::vector<uint8_t>* held_ = nullptr;
};
