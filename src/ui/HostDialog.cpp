#include "HostDialog.h"

#include "ConnectDialog.h"
#include "DialogIds.h"
#include "TransferDialog.h"

HostDialog::HostDialog() : Dialog(HOST_DIALOG_TEMPLATE) {}

HostDialog::~HostDialog()
{
    // The window is gone with its transfer. If it is not, the module is
    // being unloaded (or the process ends) in the middle of one, under the
    // loader lock: nothing here may wait for a worker (which needs that
    // lock to end) nor for a window of another thread. The workers are told
    // to give up and the window goes only if it is this thread's own.
    if (GetHwnd() == nullptr) return;
    unloading = true;
    link.Abandon();
    if (IsOwnWindow()) DestroyWindow();
}

bool HostDialog::CreateHostWindow()
{
    return Create();
}

void HostDialog::DestroyHostWindow()
{
    if (GetHwnd() != nullptr) DestroyWindow();
}

void HostDialog::RunConnectDialog()
{
    SetConnected(false);
    ConnectDialog dialog(*this);
    dialog.DoModal(GetHwnd());
    // An attempt that did not connect (also one ended by Enter or Escape
    // while the host already held the link) leaves no port open and no
    // worker running, so the next attempt can open the port afresh.
    if (connected == 0) link.Stop();
}

void HostDialog::RunTransferDialog(int32_t percent, int32_t dataLength, const uint8_t* data)
{
    TransferDialog dialog(*this);
    dialog.percent = percent;
    dialog.dataLength = dataLength;
    dialog.data = data;
    dialog.DoModal(GetHwnd());
}

void HostDialog::OnDestroy()
{
    if (!unloading && GetConnectionState() == CONNECTION_STATE_CONNECTED) link.Stop();
    Dialog::OnDestroy();
}
