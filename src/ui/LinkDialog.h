// A dialog that runs requests on the serial link: the link's completion
// message reaches it as OnLinkDone. The dialog base itself knows nothing
// of the link.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Dialog.h"

class LinkDialog : public Dialog {
public:
    using Dialog::Dialog;

protected:
    // WM_LINK_DONE: wParam LINK_REPLIED with lParam the reply, or
    // LINK_FAILED with lParam the request that failed.
    virtual void OnLinkDone(WPARAM wParam, LPARAM lParam) = 0;
    // A reply's length as its header gives it. An accepted reply's length
    // field agrees with its frame; the bound only keeps a damaged one inside
    // the reply buffer.
    static size_t ReplyLength(const uint8_t* reply);

    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
};
