#include "ConnectDialog.h"

#include "DeviceMessages.h"
#include "DialogIds.h"
#include "FrameCodec.h"
#include "HostDialog.h"
#include "LineSettings.h"
#include "TextFormat.h"
#include "UiTexts.h"
#include "WideText.h"

ConnectDialog::ConnectDialog(HostDialog& host) : LinkDialog(CONNECT_DIALOG_TEMPLATE), host(host) {}

BOOL ConnectDialog::OnInitDialog() {
    Dialog::OnInitDialog();
    if (!host.link.Start(host.portName.c_str(), GetHwnd())) {
        Fail();
        return TRUE;
    }
    host.link.RequestProbe(PROBE_FILLER_COUNT);
    return TRUE;
}

void ConnectDialog::OnLinkDone(WPARAM wParam, LPARAM lParam) {
    const uint8_t* message = reinterpret_cast<const uint8_t*>(lParam);
    if (message == nullptr) return;
    uint8_t code = MessageCode(message);
    if (code == CMD_PROBE) {
        if (wParam == 1) {
            host.link.RequestInfo();
        } else {
            Fail();
        }
    } else if (code == CMD_INFO) {
        if (wParam == 1) {
            Succeed(message);
        } else {
            Fail();
        }
    }
    // Any other code is a late message of an earlier request.
}

void ConnectDialog::OnDestroy() {
    Dialog::OnDestroy();
    if (host.GetConnectionState() != CONNECTION_STATE_CONNECTED) host.link.Stop();
}

void ConnectDialog::Succeed(const uint8_t* infoReply) {
    // An accepted reply's length field agrees with its frame; the bound only
    // keeps a damaged one inside the reply buffer.
    size_t length = MessageLength(infoReply);
    if (length > FRAME_BUFFER_SIZE) length = FRAME_BUFFER_SIZE;
    InfoReply info = ReadInfoReply(infoReply, length);
    statusText = WideFromUtf8(CONNECT_SUCCESS_STATUS);
    detailText = FormatText(WideFromUtf8(CONNECT_SUCCESS_DETAIL_FORMAT),
                            {WideFromCp936(host.portName), static_cast<int32_t>(LINE_BAUD_RATE),
                             WideFromCp936(info.serverType), info.freeKb});
    SetItemText(CONNECT_STATUS_ID, CONNECT_SUCCEEDED_TEXT);
    host.SetConnectionState(CONNECTION_STATE_CONNECTED);
    host.link.SetNotifyWindow(host.GetHwnd());
    host.SetConnected(true);
    EndDialog(1);
}

void ConnectDialog::Fail() {
    host.link.Stop();
    host.SetConnected(false);
    statusText = WideFromUtf8(CONNECT_FAILURE_STATUS);
    detailText = WideFromUtf8(CONNECT_FAILURE_DETAIL);
    SetItemText(CONNECT_STATUS_ID, CONNECT_FAILED_TEXT);
    EndDialog(1);
}
