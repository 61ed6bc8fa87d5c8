// The host of one transfer: the shared state that the transfer driver and
// the dialogs hand to each other, and the operations the driver needs of
// the user interface. The Windows HostDialog implements the virtual
// operations with real dialogs; tests implement them with fakes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "RecordFields.h"

constexpr size_t RECORD_BUFFER_SIZE = 65560;

class TransferHost {
public:
    TransferHost();
    virtual ~TransferHost() = default;
    TransferHost(const TransferHost&) = delete;
    TransferHost& operator=(const TransferHost&) = delete;

    // Joins the field texts into the record payload in `recordBuffer`, takes
    // the percentage and advances `recordCounter`, then runs the transfer
    // dialog. False only when no device is connected (nothing is sent then).
    bool SendRecord();

    // One connection attempt on `name` (the dialog runs on `portName`):
    // true when the device answered.
    bool AttemptConnection(const char* name);
    // The attempt's outcome, as the connection dialog finds it.
    void SetConnected(bool yes) { connected = yes ? 1 : 0; }

    // Creates the hidden host window that owns the dialogs of a transfer.
    virtual bool CreateHostWindow() = 0;
    // Destroys it again; stops the link if the host holds it.
    virtual void DestroyHostWindow() = 0;
    // One connection attempt on `portName`; sets `connected` (SetConnected).
    virtual void RunConnectDialog() = 0;
    // Sends one record's payload, showing `percent`; the outcome is shown to
    // the user only.
    virtual void RunTransferDialog(int32_t percent, int32_t dataLength, const uint8_t* data) = 0;

    // The state the steps of a transfer hand to each other. Read freely;
    // changed by the host's own operations above (and by the driver's
    // set-up of a transfer: recordTotal, recordCounter, fieldTexts).
    int32_t connected = 0;
    uint8_t recordBuffer[RECORD_BUFFER_SIZE];
    int32_t recordTotal = 0;
    int32_t recordCounter = 1;
    const char* fieldTexts[RECORD_FIELD_COUNT];
    std::string portName;
};
