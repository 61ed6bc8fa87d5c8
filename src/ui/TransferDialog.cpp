#include "TransferDialog.h"

#include "DeviceMessages.h"
#include "DialogIds.h"
#include "HostDialog.h"
#include "UiTexts.h"
#include "WideText.h"

namespace {

constexpr UINT_PTR EARLIER_REQUEST_TIMER = 1;

}  // namespace

TransferDialog::TransferDialog(HostDialog& host) : LinkDialog(TRANSFER_DIALOG_TEMPLATE), host(host) {}

BOOL TransferDialog::OnInitDialog()
{
    Dialog::OnInitDialog();
    // A dialog ended by Enter or Escape leaves its request running; its late
    // reply must not be taken for this record's, so wait until it has ended.
    bool waiting =
        host.link.RequestRunning() && SetTimer(GetHwnd(), EARLIER_REQUEST_TIMER, EARLIER_REQUEST_POLL_MS, nullptr) != 0;
    if (!waiting) BeginRecordRequest();
    SetItemText(TRANSFER_PERCENT_ID, PercentText(percent));
    return TRUE;
}

std::wstring TransferDialog::PercentText(int32_t percent)
{
    return std::to_wstring(percent) + WideFromUtf8(PERCENT_SIGN);
}

void TransferDialog::OnTimer(UINT_PTR timerId)
{
    if (timerId != EARLIER_REQUEST_TIMER || requestBegun) return;
    if (host.link.RequestRunning()) return;
    KillTimer(GetHwnd(), EARLIER_REQUEST_TIMER);
    BeginRecordRequest();
}

void TransferDialog::BeginRecordRequest()
{
    requestBegun = true;
    host.link.SetNotifyWindow(GetHwnd());
    host.link.RequestRecord(RECORD_FLAG, static_cast<uint16_t>(dataLength & 0xFFFF), data);
}

void TransferDialog::OnLinkDone(WPARAM wParam, LPARAM lParam)
{
    const uint8_t* message = reinterpret_cast<const uint8_t*>(lParam);
    if (!requestBegun || message == nullptr) return;
    if (wParam == LINK_FAILED) {
        ShowWarning(LINE_FAULT_MESSAGE);
        EndDialog(LINE_FAULT);
        return;
    }
    if (MessageCode(message) != CMD_RECORD) return;  // a late message of an earlier request
    if (ReadRecordStatus(message, ReplyLength(message)) == RECORD_REFUSED) ShowWarning(RECORD_REFUSED_MESSAGE);
    EndDialog(REPLIED);
}
