#include "LinkDialog.h"

#include "DeviceMessages.h"
#include "FrameCodec.h"
#include "SerialLink.h"

bool LinkDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_LINK_DONE) return false;
    OnLinkDone(wParam, lParam);
    return true;
}

size_t LinkDialog::ReplyLength(const uint8_t* reply)
{
    const size_t length = MessageLength(reply);
    return length > FRAME_BUFFER_SIZE ? FRAME_BUFFER_SIZE : length;
}
