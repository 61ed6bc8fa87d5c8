// "Connecting ...": one connection attempt on the host's port. Starts the
// link, probes the device and asks for its information; the attempt's
// lasting result is the host's `connected` flag.
#pragma once

#include <cstdint>
#include <string>

#include "LinkDialog.h"

class HostDialog;

class ConnectDialog : public LinkDialog {
public:
    explicit ConnectDialog(HostDialog& host);

    // Both outcomes end the dialog with this code; it carries nothing.
    static constexpr INT_PTR ATTEMPT_OVER = IDOK;

    // The success detail: port name, line rate, server type, free space in KB.
    static std::wstring SuccessDetail(const std::wstring& portName, uint32_t rateBps, const std::wstring& serverType,
                                      uint16_t freeKb);

    // The outcome in words, composed when the attempt ends and kept here
    // (UTF-16, the CP936 port name and server type converted); empty until
    // then, and left empty when Enter or Escape ends the attempt.
    std::wstring statusText;
    std::wstring detailText;

protected:
    BOOL OnInitDialog() override;
    void OnLinkDone(WPARAM wParam, LPARAM lParam) override;
    void OnClose() override {}  // a close request does not end the attempt
    void OnDestroy() override;

private:
    void Succeed(const uint8_t* infoReply);
    void Fail();

    HostDialog& host;
};
