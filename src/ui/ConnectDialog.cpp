#include "ConnectDialog.h"

#include "DeviceMessages.h"
#include "DialogIds.h"
#include "HostDialog.h"
#include "LineSettings.h"
#include "UiTexts.h"
#include "WideText.h"

ConnectDialog::ConnectDialog(HostDialog& host) : LinkDialog(CONNECT_DIALOG_TEMPLATE), host(host) {}

BOOL ConnectDialog::OnInitDialog()
{
    Dialog::OnInitDialog();
    if (!host.link.Start(host.portName.c_str(), GetHwnd())) {
        Fail();
        return TRUE;
    }
    host.link.RequestProbe(PROBE_FILLER_COUNT);
    return TRUE;
}

void ConnectDialog::OnLinkDone(WPARAM wParam, LPARAM lParam)
{
    const uint8_t* message = reinterpret_cast<const uint8_t*>(lParam);
    if (message == nullptr) return;
    uint8_t code = MessageCode(message);
    if (code == CMD_PROBE) {
        if (wParam == LINK_REPLIED) {
            host.link.RequestInfo();
        } else {
            Fail();
        }
    } else if (code == CMD_INFO) {
        if (wParam == LINK_REPLIED) {
            Succeed(message);
        } else {
            Fail();
        }
    }
    // Any other code is a late message of an earlier request.
}

void ConnectDialog::OnDestroy()
{
    Dialog::OnDestroy();
    if (host.GetConnectionState() != CONNECTION_STATE_CONNECTED) host.link.Stop();
}

void ConnectDialog::Succeed(const uint8_t* infoReply)
{
    InfoReply info = ReadInfoReply(infoReply, ReplyLength(infoReply));
    statusText = WideFromUtf8(CONNECT_SUCCESS_STATUS);
    detailText =
        SuccessDetail(WideFromCp936(host.portName), LINE_BAUD_RATE, WideFromCp936(info.serverType), info.freeKb);
    SetItemText(CONNECT_STATUS_ID, CONNECT_SUCCEEDED_TEXT);
    host.SetConnectionState(CONNECTION_STATE_CONNECTED);
    host.link.SetNotifyWindow(host.GetHwnd());
    host.SetConnected(true);
    EndDialog(ATTEMPT_OVER);
}

void ConnectDialog::Fail()
{
    host.link.Stop();
    host.SetConnected(false);
    statusText = WideFromUtf8(CONNECT_FAILURE_STATUS);
    detailText = WideFromUtf8(CONNECT_FAILURE_DETAIL);
    SetItemText(CONNECT_STATUS_ID, CONNECT_FAILED_TEXT);
    EndDialog(ATTEMPT_OVER);
}

std::wstring ConnectDialog::SuccessDetail(const std::wstring& portName, uint32_t rateBps,
                                          const std::wstring& serverType, uint16_t freeKb)
{
    const auto& part = CONNECT_SUCCESS_DETAIL_PARTS;
    return WideFromUtf8(part[0]) + portName + WideFromUtf8(part[1]) + std::to_wstring(rateBps) + WideFromUtf8(part[2]) +
           serverType + WideFromUtf8(part[3]) + std::to_wstring(freeKb) + WideFromUtf8(part[4]);
}
