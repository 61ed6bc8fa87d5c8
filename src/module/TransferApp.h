// The module's application object. It adds nothing to DialogApp: the
// module handle comes from the DLL entry, and the title that captions the
// message boxes is the DLL's file name without its extension.
#pragma once

#include "DialogApp.h"

class TransferApp : public DialogApp {};
