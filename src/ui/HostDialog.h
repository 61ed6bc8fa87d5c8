// The hidden host window of a transfer: owner of the two modal dialogs and
// of the serial link, carrier of the state that the steps of a transfer
// hand to each other. One static object lives as long as the module; its
// window exists only during a transfer.
#pragma once

#include <cstdint>

#include "Dialog.h"
#include "SerialLink.h"
#include "TransferHost.h"

// The host holds the link open for the transfer (set by a successful
// connection, never set back).
constexpr int32_t CONNECTION_STATE_CONNECTED = 3;

class HostDialog : public Dialog, public TransferHost {
public:
    HostDialog();
    ~HostDialog() override;

    bool CreateHostWindow() override;
    void DestroyHostWindow() override;
    void RunConnectDialog() override;
    void RunTransferDialog(int32_t percent, int32_t dataLength, const uint8_t* data) override;

    void SetConnectionState(int32_t state) { connectionState = state; }
    int32_t GetConnectionState() const { return connectionState; }

    SerialLink link;
    int32_t connectionState = 0;

protected:
    void OnDestroy() override;

private:
    bool unloading = false;  // destroyed with the module: the link is abandoned, not stopped
};
