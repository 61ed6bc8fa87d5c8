#include "LinkDialog.h"

#include "SerialLink.h"

bool LinkDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_LINK_DONE) return false;
    OnLinkDone(wParam, lParam);
    return true;
}
