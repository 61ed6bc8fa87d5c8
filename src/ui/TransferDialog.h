// "Transfering ...": sends one record as one request and shows the
// transfer's percentage until the device replies or the request fails.
// Ends with REPLIED when the device replied (stored or refused), LINE_FAULT
// otherwise; Enter and Escape give the same codes.
#pragma once

#include <cstdint>
#include <string>

#include "LinkDialog.h"

class HostDialog;

// How often a dialog looks whether the request that an earlier dialog left
// running has ended.
constexpr UINT EARLIER_REQUEST_POLL_MS = 20;

class TransferDialog : public LinkDialog {
public:
    explicit TransferDialog(HostDialog& host);

    static constexpr INT_PTR REPLIED = IDOK;
    static constexpr INT_PTR LINE_FAULT = IDCANCEL;

    // What the dialog shows of `percent`, e.g. "37%".
    static std::wstring PercentText(int32_t percent);

    int32_t percent = 0;
    int32_t dataLength = 0;         // only the low 16 bits reach the link
    const uint8_t* data = nullptr;  // lies in the host's record buffer

protected:
    BOOL OnInitDialog() override;
    void OnLinkDone(WPARAM wParam, LPARAM lParam) override;
    void OnClose() override {}  // a close request does not end the transfer
    void OnTimer(UINT_PTR timerId) override;

private:
    void BeginRecordRequest();

    HostDialog& host;
    bool requestBegun = false;
};
