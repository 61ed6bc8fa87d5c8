#include "HostDialog.h"

#include "ConnectDialog.h"
#include "DialogIds.h"
#include "TransferDialog.h"

HostDialog::HostDialog() : Dialog(HOST_DIALOG_TEMPLATE) {}

HostDialog::~HostDialog() {
    // The window should be gone with its transfer; if not, end it properly
    // while this object is still whole, so that the link is stopped too.
    DestroyHostWindow();
}

bool HostDialog::CreateHostWindow() {
    return Create();
}

void HostDialog::DestroyHostWindow() {
    if (GetHwnd() != nullptr) DestroyWindow();
}

void HostDialog::RunConnectDialog() {
    connected = 0;
    ConnectDialog dialog(*this);
    dialog.DoModal(GetHwnd());
    // An attempt that did not connect (also one ended by Enter or Escape
    // while the host already held the link) leaves no port open and no
    // worker running, so the next attempt can open the port afresh.
    if (connected == 0) link.Stop();
}

void HostDialog::RunTransferDialog(int32_t percent, int32_t dataLength, const uint8_t* data) {
    TransferDialog dialog(*this);
    dialog.percent = percent;
    dialog.dataLength = dataLength;
    dialog.data = data;
    dialog.DoModal(GetHwnd());
}

void HostDialog::OnDestroy() {
    if (GetConnectionState() == CONNECTION_STATE_CONNECTED) link.Stop();
    Dialog::OnDestroy();
}
