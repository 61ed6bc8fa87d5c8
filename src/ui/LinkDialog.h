// A dialog that runs requests on the serial link: the link's completion
// message reaches it as OnLinkDone. The dialog base itself knows nothing
// of the link.
#pragma once

#include "Dialog.h"

class LinkDialog : public Dialog {
public:
    using Dialog::Dialog;

protected:
    // WM_LINK_DONE: wParam LINK_REPLIED with lParam the reply, or
    // LINK_FAILED with lParam the request that failed.
    virtual void OnLinkDone(WPARAM wParam, LPARAM lParam) = 0;

    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
};
